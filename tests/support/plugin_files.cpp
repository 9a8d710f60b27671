#include "tests/support/plugin_files.h"

#include "tests/support/plugin_fixture.h"

namespace vorkast::test {
namespace {

#ifdef VORKAST_SHIPPED_PLUGIN_FROM_BIN
// The path with "." and ".." resolved, as messages should show it.
std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full, n) : path;
}

// The build tells where the 32-bit tree puts the file, relative to this tree's program folder.
// VORKAST_SHIPPED_PLUGIN in the environment names another file (a Windows path): the test
// command checks the DLL unpacked from the ZIP this way.
std::string ShippedPluginPath() {
    char given[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableA("VORKAST_SHIPPED_PLUGIN", given, MAX_PATH);
    if (n > 0 && n < MAX_PATH) { return FullPath(std::string(given, n)); }
    return FullPath(ProgramBeside(VORKAST_SHIPPED_PLUGIN_FROM_BIN));
}
#endif

}  // namespace

const std::vector<PluginFile>& PluginFiles() {
    static const std::vector<PluginFile> files = {
        {"ThisBuild", PluginPath, "this tree builds it"},
#ifdef VORKAST_SHIPPED_PLUGIN_FROM_BIN
        {"Shipped32Bit", ShippedPluginPath,
         "the 32-bit tree makes it (scripts/build.sh builds build/i686 before build/x64); to read "
         "another file, configure this tree with -DVORKAST_SHIPPED_PLUGIN=<path> or set "
         "VORKAST_SHIPPED_PLUGIN=<Windows path> in the environment"},
#endif
    };
    return files;
}

::testing::AssertionResult FileExists(const PluginFile& file) {
    const std::string path = file.path();
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) { return ::testing::AssertionSuccess(); }
    return ::testing::AssertionFailure() << "no " << file.name << " plug-in file at " << path << ": "
                                         << file.made_by;
}

void PrintTo(const PluginFile& file, std::ostream* out) { *out << file.name; }

ResourceImage::ResourceImage(const std::string& path)
    : module_(::LoadLibraryExA(path.c_str(), nullptr,
                               LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE)) {
    if (module_ == nullptr) {
        error_ = "LoadLibraryEx(" + path + ", as image resource) failed: " + host::SystemMessage(::GetLastError());
    }
}

ResourceImage::~ResourceImage() {
    if (module_ != nullptr) { ::FreeLibrary(module_); }
}

}  // namespace vorkast::test
