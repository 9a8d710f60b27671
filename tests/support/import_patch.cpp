#include "tests/support/import_patch.h"

#include <cstring>

namespace vorkast::test {
namespace {

template <class T>
const T* AtRva(const unsigned char* base, DWORD rva) {
    return reinterpret_cast<const T*>(base + rva);
}

}  // namespace

ImportPatch::ImportPatch(const char* module, const char* function, const void* replacement)
    : ImportPatch(::GetModuleHandleW(nullptr), module, function, replacement) {}

ImportPatch::ImportPatch(HMODULE importer, const char* module, const char* function, const void* replacement) {
    const auto* base = reinterpret_cast<const unsigned char*>(importer);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = AtRva<IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) { return; }
    for (const auto* d = AtRva<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress);
         d->Name != 0; ++d) {
        if (::lstrcmpiA(AtRva<char>(base, d->Name), module) != 0 || d->OriginalFirstThunk == 0) {
            continue;
        }
        const auto* names = AtRva<IMAGE_THUNK_DATA>(base, d->OriginalFirstThunk);
        auto* addresses =
            const_cast<IMAGE_THUNK_DATA*>(AtRva<IMAGE_THUNK_DATA>(base, d->FirstThunk));
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) { continue; }
            const auto* by_name = AtRva<IMAGE_IMPORT_BY_NAME>(
                base, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) {
                continue;
            }
            auto** slot = reinterpret_cast<void**>(&addresses->u1.Function);
            DWORD protection = 0;
            if (!::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) { continue; }
            original_ = *slot;
            *slot = const_cast<void*>(replacement);
            ::VirtualProtect(slot, sizeof *slot, protection, &protection);
            slots_.push_back(slot);
        }
    }
}

ImportPatch::~ImportPatch() {
    for (void** slot : slots_) {
        DWORD protection = 0;
        ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
        *slot = const_cast<void*>(original_);
        ::VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
}

}  // namespace vorkast::test
