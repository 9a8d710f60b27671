// Memory that is gone and stays gone, for one loaded module: its import entries of the heap
// functions (malloc, calloc, realloc; the C and C++ runtime linked into it allocate through them
// too) or of the BSTR allocators (SysAllocString and its relatives) point at stand-ins that
// always fail, the way the real functions fail.
#pragma once

#include "tests/support/import_patch.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace vorkast::test {

enum class Gone { heap, strings };

// "HeapAllocations" or "SysAllocStrings", for test names and messages.
const char* ToText(Gone gone);

// For its lifetime, every allocation of that kind that `module` makes through its imports
// fails.
class MemoryGone {
public:
    MemoryGone(HMODULE module, Gone gone);
    // True when the module imports the kind's first function (malloc, SysAllocString), so that
    // something is tested at all; the others are patched where the module imports them.
    bool active() const;

private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

}  // namespace vorkast::test
