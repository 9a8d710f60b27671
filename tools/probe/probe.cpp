// vorkast-probe: a stand-in for the desktop host, for people. Loads a plug-in of the host's
// interface and shows what the host would see.
#include "tools/host/plugin_host.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vorkast::host::HostError;
using vorkast::host::PluginInterface;
using vorkast::host::PluginLibrary;

constexpr char kUsage[] =
    "usage: vorkast-probe info PLUGIN.dll\n"
    "  info   the plug-in's type, functions, parameter descriptions and information texts\n";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) { return parts; }
        start = end + 1;
    }
}

int Info(const std::string& path) {
    PluginLibrary library(path);
    PluginInterface plugin(library);
    std::printf("plug-in:     %s\n", path.c_str());
    std::printf("type:        %d\n", plugin.dlltype());
    const std::string functions = plugin.init();
    std::printf("functions:   %s\n", functions.c_str());
    for (const std::string& name : Split(functions, '|')) {
        if (name.empty()) { continue; }
        std::printf("  %-14s parameter: %s\n", name.c_str(), plugin.getparam(name.c_str()));
    }
    static const char* const kLabels[] = {"description", "author", "version", "date", "date (4)"};
    for (DWORD i = 0; i < 5; ++i) {
        std::printf("%-12s %s\n", (std::string(kLabels[i]) + ":").c_str(), plugin.getinfo(i));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "info") == 0) { return Info(argv[2]); }
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const HostError& e) {
        std::fprintf(stderr, "vorkast-probe: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorkast-probe: %s\n", e.what());
        return 1;
    }
}
