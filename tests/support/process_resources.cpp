#include "tests/support/process_resources.h"

#include <windows.h>

#include <vector>

namespace vorkast::test {

std::size_t HeapBusyBytes() {
    std::vector<HANDLE> heaps(::GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::size_t busy = 0;
    for (HANDLE heap : heaps) {
        if (!::HeapLock(heap)) { continue; }
        PROCESS_HEAP_ENTRY entry{};
        while (::HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) { busy += entry.cbData; }
        }
        ::HeapUnlock(heap);
    }
    return busy;
}

std::size_t OpenHandleCount() {
    std::size_t open = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) { ++open; }
    }
    return open;
}

std::size_t MappedViewCount() {
    std::size_t views = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (auto* p = static_cast<unsigned char*>(nullptr);
         ::VirtualQuery(p, &info, sizeof info) == sizeof info;
         p = static_cast<unsigned char*>(info.BaseAddress) + info.RegionSize) {
        if (info.Type == MEM_MAPPED && info.BaseAddress == info.AllocationBase) { ++views; }
        if (static_cast<unsigned char*>(info.BaseAddress) + info.RegionSize < p) { break; }
    }
    return views;
}

}  // namespace vorkast::test
