// The plug-in files whose resources the tests read: this tree's own build and, in the 64-bit
// tree, the shipped 32-bit file too. A 64-bit process cannot run 32-bit code, but it can map a
// 32-bit file as an image and read its resources, so the file a user gets is checked as well.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vorkast::test {

// One plug-in file, a case of the resource tests.
struct PluginFile {
    const char* name;         // the case's name in test names, e.g. "Shipped32Bit"
    std::string (*path)();    // its full path
    const char* made_by;      // how the file comes to be, for the message when it is missing
};

// The files, this build's own first. The 64-bit tree lists the shipped 32-bit file as well;
// the 32-bit tree's own file is the shipped one.
const std::vector<PluginFile>& PluginFiles();

// Success when the file exists; else a failure naming the path and how the file is made.
::testing::AssertionResult FileExists(const PluginFile& file);

// Names the case in gtest's output ("ThisBuild").
void PrintTo(const PluginFile& file, std::ostream* out);

// A module file mapped for reading its resources only (LoadLibraryEx as image resource and data
// file): nothing of it runs, and its machine type need not be this process's. Freed with the
// object.
class ResourceImage {
public:
    explicit ResourceImage(const std::string& path);
    ~ResourceImage();
    ResourceImage(const ResourceImage&) = delete;
    ResourceImage& operator=(const ResourceImage&) = delete;

    // The handle for FindResourceEx and friends; null when the file could not be mapped.
    HMODULE module() const { return module_; }
    // Why it could not be mapped (empty when it was).
    const std::string& error() const { return error_; }

private:
    HMODULE module_ = nullptr;
    std::string error_;
};

}  // namespace vorkast::test
