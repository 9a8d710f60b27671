#include "tests/support/plugin_fixture.h"

#include <memory>

namespace vorkast::test {

std::string ProgramBeside(const std::string& file_name) {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + file_name;
}

std::string PluginPath() { return ProgramBeside("VorkastPlugin.dll"); }

const host::PluginLibrary& Plugin() {
    static const auto library = std::make_unique<host::PluginLibrary>(PluginPath());
    return *library;
}

const host::PluginInterface& Interface() {
    static const host::PluginInterface plugin(Plugin());
    return plugin;
}

}  // namespace vorkast::test
