// Records, in order, the section calls that one module makes (OpenFileMappingA,
// MapViewOfFile, UnmapViewOfFile, CloseHandle), for tests where the order is the contract.
#pragma once

#include "tests/support/import_patch.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace vorkast::test {

// For its lifetime, `module`'s calls of the four functions reach the platform and are noted.
// One log at a time; calls may come from any thread.
class ReleaseLog {
public:
    explicit ReleaseLog(HMODULE module);
    ~ReleaseLog();
    ReleaseLog(const ReleaseLog&) = delete;
    ReleaseLog& operator=(const ReleaseLog&) = delete;

    // True when all four functions were found in the module's imports.
    bool active() const;

    // The calls so far, each handle and view named by the order in which it was obtained:
    // "open H1, map H1 V1, unmap V1, close H1". A name stands for a value until it is closed
    // or unmapped, so a value given again later gets a new name, and an unmap of a view that
    // is not mapped shows "unmap ?". A call that failed shows "none" ("open none",
    // "map H1 none"). CloseHandle of a handle that no noted OpenFileMappingA gave is left out
    // (the runtime closes handles of its own).
    std::string text() const;
    void clear();

    // Called by the stand-ins.
    HANDLE opened(HANDLE section);
    void* mapped(HANDLE section, void* view);
    void unmapping(const void* view);
    void closing(HANDLE handle);

private:
    struct Named {
        const void* value;
        std::string name;
    };
    static std::string give_name(const void* value, char prefix, std::vector<Named>& live, int& given);
    static std::string take_name(const void* value, std::vector<Named>& live, bool forget);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<Named> handles_;
    std::vector<Named> views_;
    int handles_given_ = 0;
    int views_given_ = 0;
    ImportPatch open_;
    ImportPatch map_;
    ImportPatch unmap_;
    ImportPatch close_;
};

}  // namespace vorkast::test
