// Points import-table entries of a loaded module at stand-ins, for tests that watch or fail
// the platform calls made by our own code.
#pragma once

#include <windows.h>

#include <vector>

namespace vorkast::test {

// For its lifetime, points the import-table entries of `importer` (a loaded module: this
// program or the plug-in) for `function` of `module` at `replacement`. Calls from code linked
// into that module go through them; calls inside system libraries do not.
class ImportPatch {
public:
    ImportPatch(HMODULE importer, const char* module, const char* function, const void* replacement);
    // The same for this program's own imports.
    ImportPatch(const char* module, const char* function, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool active() const { return !slots_.empty(); }
    const void* original() const { return original_; }

private:
    std::vector<void**> slots_;
    const void* original_ = nullptr;
};

}  // namespace vorkast::test
