// What the test process holds, for leak checks: heap bytes in use, open handles, mapped views.
// (Wine reports 0 from GetProcessHandleCount, so handles are counted by probing values.)
#pragma once

#include <cstddef>

namespace vorkast::test {

// Bytes in busy blocks over every heap of the process.
std::size_t HeapBusyBytes();

// Handle values from 4 up to a bound that name an open handle.
std::size_t OpenHandleCount();

// Regions of the address space that are mapped views of sections.
std::size_t MappedViewCount();

}  // namespace vorkast::test
