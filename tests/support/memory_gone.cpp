#include "tests/support/memory_gone.h"

#include <oleauto.h>

#include <cerrno>
#include <cstddef>

namespace vorkast::test {
namespace {

void* __cdecl NoMalloc(std::size_t) {
    errno = ENOMEM;
    return nullptr;
}
void* __cdecl NoCalloc(std::size_t, std::size_t) {
    errno = ENOMEM;
    return nullptr;
}
// A failed realloc leaves the block as it was.
void* __cdecl NoRealloc(void*, std::size_t) {
    errno = ENOMEM;
    return nullptr;
}
BSTR WINAPI NoSysAllocString(const OLECHAR*) { return nullptr; }
BSTR WINAPI NoSysAllocStringLen(const OLECHAR*, UINT) { return nullptr; }
BSTR WINAPI NoSysAllocStringByteLen(LPCSTR, UINT) { return nullptr; }
INT WINAPI NoSysReAllocString(BSTR*, const OLECHAR*) { return FALSE; }
INT WINAPI NoSysReAllocStringLen(BSTR*, const OLECHAR*, UINT) { return FALSE; }

struct StandIn {
    const char* module;
    const char* function;
    const void* replacement;
};

const StandIn kHeapStandIns[] = {
    {"msvcrt.dll", "malloc", reinterpret_cast<const void*>(&NoMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<const void*>(&NoCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<const void*>(&NoRealloc)},
};
const StandIn kStringStandIns[] = {
    {"oleaut32.dll", "SysAllocString", reinterpret_cast<const void*>(&NoSysAllocString)},
    {"oleaut32.dll", "SysAllocStringLen", reinterpret_cast<const void*>(&NoSysAllocStringLen)},
    {"oleaut32.dll", "SysAllocStringByteLen", reinterpret_cast<const void*>(&NoSysAllocStringByteLen)},
    {"oleaut32.dll", "SysReAllocString", reinterpret_cast<const void*>(&NoSysReAllocString)},
    {"oleaut32.dll", "SysReAllocStringLen", reinterpret_cast<const void*>(&NoSysReAllocStringLen)},
};

}  // namespace

const char* ToText(Gone gone) { return gone == Gone::heap ? "HeapAllocations" : "SysAllocStrings"; }

MemoryGone::MemoryGone(HMODULE module, Gone gone) {
    const auto add = [&](const auto& stand_ins) {
        for (const StandIn& s : stand_ins) {
            patches_.push_back(std::make_unique<ImportPatch>(module, s.module, s.function, s.replacement));
        }
    };
    if (gone == Gone::heap) {
        add(kHeapStandIns);
    } else {
        add(kStringStandIns);
    }
}

bool MemoryGone::active() const { return patches_.front()->active(); }

}  // namespace vorkast::test
