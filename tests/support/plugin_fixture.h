// Access to the plug-in under test, loaded once per test program from beside the program,
// the way the host loads it.
#pragma once

#include "tools/host/plugin_host.h"

#include <string>

namespace vorkast::test {

// Full path of a file beside the running test program (the build puts the plug-in, the
// helper programs and the tools there).
std::string ProgramBeside(const std::string& file_name);

// Full path of VorkastPlugin.dll beside the running test program.
std::string PluginPath();

// The loaded plug-in and its resolved entry points (loaded on first use, kept for the run).
const host::PluginLibrary& Plugin();
const host::PluginInterface& Interface();

}  // namespace vorkast::test
