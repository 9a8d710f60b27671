// vorkast-probe: a stand-in for the desktop host, for people. Loads a plug-in of the host's
// interface and calls it the way the host does: discovery (info), one-off value calls (get),
// a refreshing display like a desktop gadget (watch), and the configuration dialog (configure).
#include "tools/common/console.h"
#include "tools/host/plugin_host.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vorkast::host::HostError;
using vorkast::host::PluginInstance;
using vorkast::host::PluginInterface;
using vorkast::host::PluginLibrary;
using vorkast::host::TextOrNull;
using vorkast::tools::ParseUnsigned;
using vorkast::tools::WriteAnsi;

constexpr char kUsage[] =
    "usage: vorkast-probe info PLUGIN.dll\n"
    "       vorkast-probe get PLUGIN.dll FUNCTION PARAM [FUNCTION PARAM ...]\n"
    "       vorkast-probe watch PLUGIN.dll FUNCTION PARAM [FUNCTION PARAM ...] [--interval MS] [--count N]\n"
    "       vorkast-probe configure PLUGIN.dll [--owner visible|hidden|none]\n"
    "  info       the plug-in's type, functions, parameter descriptions and information texts\n"
    "  get        one instance; calls each FUNCTION with its PARAM, one answer a line\n"
    "  watch      one instance; calls every pair each MS milliseconds (default 1000), one line\n"
    "             a refresh: the time, then the answers separated by \" | \"; N refreshes\n"
    "             (default 0: until Ctrl+C)\n"
    "  configure  opens the plug-in's configuration dialog, owned by a stand-in host window\n"
    "             (visible by default; hidden, or none: no window at all)\n"
    "  FUNCTION is a name that the plug-in's init lists, e.g. ValueBySensor 3 or ValueByName \"CPU Fan\".\n"
    "  Exit status: 0 done, 1 the plug-in cannot be loaded or lacks an export, 2 wrong arguments,\n"
    "  3 the plug-in crashed.\n";

// Wrong arguments: reported with the usage text and exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Call {
    std::string function;  // as init lists it
    std::string parameter;
    vorkast::host::ValueFn fn = nullptr;
};

// A plug-in that faults takes the probe down with it; say so plainly instead of a crash dialog.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char message[160];
    const int n = std::snprintf(message, sizeof message,
                                "vorkast-probe: the plug-in crashed (exception 0x%08lX at %p)\n",
                                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                                info->ExceptionRecord->ExceptionAddress);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), message, static_cast<DWORD>(n), &written, nullptr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Line(const std::string& text) {
    WriteAnsi(stdout, text);
    WriteAnsi(stdout, "\n");
}

int Info(const std::string& path) {
    PluginLibrary library(path);
    PluginInterface plugin(library);
    const vorkast::host::FileVersion version = vorkast::host::ReadFileVersion(path);
    std::printf("plug-in:          %s\n", path.c_str());
    if (version.present) {
        std::printf("file version:     %s (%s)\n", version.file_version.c_str(), version.numeric.c_str());
    } else {
        std::printf("file version:     (no version resource)\n");
    }
    std::printf("type (dlltype):   %d\n", plugin.dlltype());
    std::fflush(stdout);
    Line("functions (init): " + TextOrNull(plugin.init()));
    for (const std::string& name : plugin.function_names()) {
        std::string line = "  " + name + std::string(name.size() < 14 ? 14 - name.size() : 0, ' ') +
                           " parameter: " + TextOrNull(plugin.getparam(name.c_str()));
        if (plugin.value_function(name) == nullptr) { line += "   (listed but not exported!)"; }
        Line(line);
    }
    Line(std::string("configure:        ") + (plugin.configure != nullptr ? "exported" : "not exported"));
    static const char* const kLabels[] = {"description (0):", "author (1):", "version (2):", "date (3):",
                                          "date (4):"};
    for (DWORD i = 0; i < 5; ++i) {
        std::string label = kLabels[i];
        label.resize(18, ' ');
        Line(label + TextOrNull(plugin.getinfo(i)));
    }
    std::fflush(stdout);
    return 0;
}

// FUNCTION PARAM pairs, each function checked against init's list (letter case ignored, the
// listed spelling used) and then against the exports.
std::vector<Call> ResolveCalls(const PluginInterface& plugin, const std::vector<std::string>& pairs) {
    const std::vector<std::string> offered = plugin.function_names();
    std::vector<Call> calls;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        Call call;
        for (const std::string& name : offered) {
            if (::lstrcmpiA(name.c_str(), pairs[i].c_str()) == 0) { call.function = name; }
        }
        if (call.function.empty()) {
            std::string list;
            for (const std::string& name : offered) { list += (list.empty() ? "" : ", ") + name; }
            throw UsageError(pairs[i] + " is not one of the plug-in's functions (init lists: " +
                             (list.empty() ? "none" : list) + ")");
        }
        call.parameter = pairs[i + 1];
        call.fn = plugin.require_value_function(call.function);
        calls.push_back(std::move(call));
    }
    return calls;
}

void CheckPairs(const std::vector<std::string>& pairs) {
    if (pairs.empty()) { throw UsageError("give at least one FUNCTION PARAM pair"); }
    if (pairs.size() % 2 != 0) {
        throw UsageError("FUNCTION " + pairs.back() + " has no PARAM (arguments come in pairs)");
    }
}

int Get(const std::string& path, const std::vector<std::string>& pairs) {
    CheckPairs(pairs);
    PluginLibrary library(path);
    PluginInterface plugin(library);
    const std::vector<Call> calls = ResolveCalls(plugin, pairs);
    PluginInstance instance(plugin, nullptr);
    for (const Call& call : calls) { Line(instance.call(call.fn, call.parameter.c_str())); }
    std::fflush(stdout);
    return 0;
}

int Watch(const std::string& path, const std::vector<std::string>& pairs, unsigned long long interval_ms,
          unsigned long long count) {
    CheckPairs(pairs);
    PluginLibrary library(path);
    PluginInterface plugin(library);
    const std::vector<Call> calls = ResolveCalls(plugin, pairs);
    vorkast::tools::StopSignal stop;
    PluginInstance instance(plugin, nullptr);

    std::string columns;
    for (const Call& call : calls) {
        columns += (columns.empty() ? "" : " | ") + call.function + " " + call.parameter;
    }
    std::fprintf(stderr, "vorkast-probe: every %llu ms: %s%s\n", interval_ms, columns.c_str(),
                 count == 0 ? " (Ctrl+C stops)" : "");

    ULONGLONG next = ::GetTickCount64();
    for (unsigned long long refresh = 0; count == 0 || refresh < count; ++refresh) {
        if (refresh != 0) {
            const ULONGLONG now = ::GetTickCount64();
            next += interval_ms;
            if (next < now) { next = now; }  // slow answers: no burst of catch-up refreshes
            if (::WaitForSingleObject(stop.event(), static_cast<DWORD>(next - now)) == WAIT_OBJECT_0) { break; }
        }
        SYSTEMTIME t{};
        ::GetLocalTime(&t);
        char stamp[16];
        std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
        std::string line = stamp;
        line += "  ";
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (i != 0) { line += " | "; }
            line += instance.call(calls[i].fn, calls[i].parameter.c_str());
        }
        Line(line);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) { break; }  // the reader has gone
        if (stop.stopped()) { break; }
    }
    return 0;
}

int Configure(const std::string& path, const std::string& owner) {
    PluginLibrary library(path);
    PluginInterface plugin(library);
    if (plugin.configure == nullptr) {
        throw HostError(path + " does not export configure (nor _configure@0)");
    }
    std::unique_ptr<vorkast::host::HostWindow> window;
    if (owner != "none") {
        window = std::make_unique<vorkast::host::HostWindow>("vorkast-probe host window", owner == "visible");
    }
    // Like the host: the instance is started with the host's window, which the plug-in keeps
    // as the owner of its dialog.
    PluginInstance instance(plugin, window != nullptr ? window->get() : nullptr);
    std::printf("vorkast-probe: configure is open; close its dialog to go on\n");
    std::fflush(stdout);
    const int result = plugin.configure();
    std::printf("configure returned %d\n", result);
    std::fflush(stdout);
    return 0;
}

int Run(int argc, char** argv) {
    if (argc < 2) { throw UsageError("no command given"); }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command != "info" && command != "get" && command != "watch" && command != "configure") {
        throw UsageError("unknown command '" + command + "'");
    }
    // Options may stand anywhere after the command; "--" ends them.
    std::vector<std::string> positional;
    unsigned long long interval_ms = 1000, count = 0;
    std::string owner = "visible";
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (!options_done && a == "--") {
            options_done = true;
            continue;
        }
        if (options_done || a.size() < 2 || a.compare(0, 2, "--") != 0) {
            positional.push_back(a);
            continue;
        }
        const bool for_watch = a == "--interval" || a == "--count";
        if (!(for_watch && command == "watch") && !(a == "--owner" && command == "configure")) {
            throw UsageError("unknown option " + a + " for " + command);
        }
        if (i + 1 >= argc) { throw UsageError(a + " needs a value"); }
        const char* value = argv[++i];
        if (a == "--interval" && (!ParseUnsigned(value, 86400000, &interval_ms) || interval_ms < 10)) {
            throw UsageError("--interval takes milliseconds from 10 to 86400000, not '" + std::string(value) + "'");
        }
        if (a == "--count" && !ParseUnsigned(value, 0xFFFFFFFFull, &count)) {
            throw UsageError("--count takes a whole number (0: until stopped), not '" + std::string(value) + "'");
        }
        if (a == "--owner") {
            owner = value;
            if (owner != "visible" && owner != "hidden" && owner != "none") {
                throw UsageError("--owner takes visible, hidden or none, not '" + owner + "'");
            }
        }
    }
    if (positional.empty()) { throw UsageError(command + " needs the plug-in's file, PLUGIN.dll"); }
    const std::string path = positional.front();
    const std::vector<std::string> rest(positional.begin() + 1, positional.end());
    if ((command == "info" || command == "configure") && !rest.empty()) {
        throw UsageError(command + " takes only PLUGIN.dll, found also '" + rest.front() + "'");
    }
    if (command == "info") { return Info(path); }
    if (command == "configure") { return Configure(path, owner); }
    if (command == "get") { return Get(path, rest); }
    return Watch(path, rest, interval_ms, count);
}

}  // namespace

int main(int argc, char** argv) {
    ::SetUnhandledExceptionFilter(OnCrash);
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vorkast-probe: %s\n", e.what());
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vorkast-probe: %s\n", e.what());
        std::fputs(kUsage, stderr);
        return 1;
    }
}
