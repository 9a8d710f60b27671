// vorkast-probe as a separate process: what it shows of a plug-in, how it calls the value
// functions (one instance, pairs in order, one line each; a timed line per refresh), how it
// fails (one clear line, the usage, a non-zero status, never a crash), and configure.
#include "tests/support/plugin_fixture.h"
#include "tests/tools/tool_process.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr char kProbe[] = "vorkast-probe.exe";

std::string FakePluginPath() {
    return ProgramBeside("FakePlugin.dll");
}

// "{plugin}" and "{fake}" stand for the product's and the fake plug-in's paths.
std::vector<std::string> Expand(std::vector<std::string> arguments) {
    for (std::string& a : arguments) {
        if (a == "{plugin}") { a = PluginPath(); }
        if (a == "{fake}") { a = FakePluginPath(); }
    }
    return arguments;
}

std::string Show(const std::vector<std::string>& arguments) {
    std::string shown = "vorkast-probe";
    for (const std::string& a : arguments) { shown += " [" + a + "]"; }
    return shown;
}

struct FailureCase {
    std::vector<std::string> arguments;
    DWORD exit_code;
    const char* message;  // part of the one-line error
};

const FailureCase kFailures[] = {
    {{}, 2, "no command given"},
    {{"frobnicate", "{plugin}"}, 2, "unknown command 'frobnicate'"},
    {{"info"}, 2, "needs the plug-in's file"},
    {{"info", "{plugin}", "extra"}, 2, "takes only PLUGIN.dll"},
    {{"info", "missing-plugin.dll"}, 1, "cannot load missing-plugin.dll"},
    {{"info", "kernel32.dll"}, 1, "kernel32.dll does not export dlltype"},
    {{"get", "kernel32.dll", "ValueBySensor", "1"}, 1, "does not export dlltype"},
    {{"get", "{plugin}"}, 2, "at least one FUNCTION PARAM pair"},
    {{"get", "{plugin}", "ValueBySensor"}, 2, "has no PARAM"},
    {{"get", "{plugin}", "ValueBySensor", "1", "ValueByName"}, 2, "has no PARAM"},
    {{"get", "{plugin}", "ValueByNumber", "1"}, 2, "ValueByNumber is not one of the plug-in's functions"},
    {{"get", "{plugin}", "ValueBySensor", "1", "--count", "3"}, 2, "unknown option --count for get"},
    {{"get", "{fake}", "NotExported", "1"}, 1, "does not export NotExported"},
    {{"get", "{fake}", "NullAnswer", "1"}, 1, "null text"},
    {{"watch", "{plugin}", "ValueBySensor", "1", "--interval", "fast"}, 2, "--interval takes milliseconds"},
    {{"watch", "{plugin}", "ValueBySensor", "1", "--interval", "0"}, 2, "--interval takes milliseconds"},
    {{"watch", "{plugin}", "ValueBySensor", "1", "--count"}, 2, "--count needs a value"},
    {{"watch", "{plugin}", "ValueBySensor", "1", "--count", "-1"}, 2, "--count takes a whole number"},
    {{"configure", "{fake}"}, 1, "does not export configure"},
    {{"configure", "{plugin}", "--owner", "sideways"}, 2, "--owner takes visible, hidden or none"},
};

TEST(Probe, FailuresGiveOneLineTheUsageAndAStatus) {
    for (const FailureCase& c : kFailures) {
        const std::vector<std::string> arguments = Expand(c.arguments);
        const ToolResult r = RunTool(kProbe, arguments);
        const std::string shown = Show(c.arguments);
        ASSERT_TRUE(r.finished) << shown << " did not end";
        EXPECT_EQ(r.exit_code, c.exit_code) << shown << "\n" << r.err;
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_FALSE(lines.empty()) << shown << ": nothing on standard error";
        EXPECT_EQ(lines[0].rfind("vorkast-probe: ", 0), 0u) << shown << ": first line \"" << lines[0] << "\"";
        EXPECT_NE(lines[0].find(c.message), std::string::npos)
            << shown << ": got \"" << lines[0] << "\", expected it to contain \"" << c.message << "\"";
        ASSERT_GE(lines.size(), 2u) << shown;
        EXPECT_EQ(lines[1].rfind("usage: vorkast-probe", 0), 0u) << shown << ": second line \"" << lines[1] << "\"";
        EXPECT_EQ(r.out, "") << shown << ": no answers after a failure";
    }
}

TEST(Probe, APluginThatFaultsIsReportedNotCrashedOn) {
    const ToolResult r = RunTool(kProbe, {"get", FakePluginPath(), "Echo", "first", "Crash", "x"});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 3u) << r.err;
    EXPECT_NE(r.err.find("vorkast-probe: the plug-in crashed (exception 0xC0000005"), std::string::npos) << r.err;
}

TEST(Probe, InfoShowsWhatTheHostLearns) {
    const ToolResult r = RunTool(kProbe, {"info", PluginPath()});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    const std::vector<std::string> expected = {
        "file version:     1.0a (1.0.0.0)",
        "type (dlltype):   1",
        "functions (init): ValueBySensor|ValueByName",
        "  ValueBySensor  parameter: sensor number|",
        "  ValueByName    parameter: sensor name|",
        "configure:        exported",
        "description (0):  Vorkast Plugin - For Deskovia Version 2 Interface % Vorkast Build 512",
        "author (1):       _qzn_",
        "version (2):      1.0a",
        "date (3):         22.07.05",
        "date (4):         22.07.05",
    };
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected.size() + 1) << r.out;
    EXPECT_EQ(lines[0], "plug-in:          " + PluginPath());
    for (std::size_t i = 0; i < expected.size(); ++i) { EXPECT_EQ(lines[i + 1], expected[i]); }
}

TEST(Probe, InfoSurvivesAPluginThatBreaksTheInterface) {
    const ToolResult r = RunTool(kProbe, {"info", FakePluginPath()});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    for (const char* line : {"file version:     (no version resource)", "  Echo           parameter: anything|",
                             "  NotExported    parameter: (null)   (listed but not exported!)",
                             "configure:        not exported", "author (1):       (null)"}) {
        EXPECT_NE(r.out.find(std::string(line) + "\r\n"), std::string::npos) << "missing \"" << line << "\" in\n" << r.out;
    }
}

TEST(Probe, GetCallsEachPairInOrderOnOneInstance) {
    const ToolResult r = RunTool(kProbe, {"get", FakePluginPath(), "Echo", "a", "echo", "two words", "ECHO", ""});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    const std::vector<std::string> expected = {"instance 1 call 1: a", "instance 1 call 2: two words",
                                               "instance 1 call 3: "};
    EXPECT_EQ(Lines(r.out), expected) << r.out;
}

TEST(Probe, WatchPrintsOneTimedLinePerRefresh) {
    ChildProcess watch(kProbe, {"watch", FakePluginPath(), "Echo", "a", "Echo", "b", "--interval", "100", "--count", "3"});
    DWORD exit_code = 0;
    ASSERT_TRUE(watch.Wait(30000, &exit_code)) << "watch --count 3 did not end";
    EXPECT_EQ(exit_code, 0u) << watch.Errors();
    const std::vector<std::string> lines = Lines(watch.Output());
    ASSERT_EQ(lines.size(), 3u) << watch.Output();
    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d  instance 1 call (\d+): a \| instance 1 call (\d+): b)");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, line)) << "line " << i << ": \"" << lines[i] << "\"";
        EXPECT_EQ(m[1].str(), std::to_string(2 * i + 1)) << lines[i];
        EXPECT_EQ(m[2].str(), std::to_string(2 * i + 2)) << lines[i];
    }
    EXPECT_NE(watch.Errors().find("every 100 ms: Echo a | Echo b"), std::string::npos) << watch.Errors();
}

TEST(Probe, WithoutATableTheHostSeesTheMessages) {
    ASSERT_TRUE(WaitForNoTable(10000)) << "a table is still published";
    const ToolResult r = RunTool(kProbe, {"get", PluginPath(), "ValueBySensor", "1", "ValueByName", "CPU Fan"});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    const std::vector<std::string> expected = {"Vorkast is not running or unsupported version",
                                               "Invalid sensor number"};
    EXPECT_EQ(Lines(r.out), expected) << r.out;
}

TEST(Probe, GetReadsWhatThePublisherServes) {
    ASSERT_TRUE(WaitForNoTable(10000));
    const TempFile file("Alpha | i4 | 11\nBeta | i4 | -7\nFlag | bool | true\nAlpha | i4 | 99\n");
    std::string log;
    const auto publisher = StartPublisher({file.path()}, &log);
    ASSERT_NE(publisher, nullptr) << "the publisher did not start: " << log;
    const ToolResult r = RunTool(kProbe, {"get", PluginPath(), "ValueBySensor", "2", "ValueByName", "Alpha",
                                          "ValueBySensor", "3", "ValueBySensor", "65540", "ValueBySensor", "0",
                                          "ValueBySensor", "5", "ValueByName", "alpha"});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    const std::vector<std::string> expected = {"-7", "11", "-1", "99", "Invalid sensor number",
                                               "Invalid sensor number", "Invalid sensor number"};
    EXPECT_EQ(Lines(r.out), expected) << r.out;
}

// The top-level dialog windows (class #32770) of a process, with their owners.
struct DialogWindow {
    HWND window;
    std::string title;
    std::string owner_title;
};

struct DialogSearch {
    DWORD process_id;
    std::vector<DialogWindow> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    ::GetClassNameA(window, cls, sizeof cls);
    if (pid == search->process_id && std::string(cls) == "#32770" && ::IsWindowVisible(window)) {
        char title[128] = {}, owner_title[128] = {};
        ::GetWindowTextA(window, title, sizeof title);
        ::GetWindowTextA(::GetWindow(window, GW_OWNER), owner_title, sizeof owner_title);
        search->found.push_back({window, title, owner_title});
    }
    return TRUE;
}

std::vector<DialogWindow> DialogsOf(DWORD process_id) {
    DialogSearch search{process_id, {}};
    ::EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST(Probe, ConfigureShowsTheDialogOwnedByTheHostWindow) {
    ASSERT_TRUE(WaitForNoTable(10000));
    const TempFile file("Alpha | i4 | 11\n");
    std::string log;
    const auto publisher = StartPublisher({file.path()}, &log);
    ASSERT_NE(publisher, nullptr) << "the publisher did not start: " << log;
    ChildProcess probe(kProbe, {"configure", PluginPath()});
    ASSERT_TRUE(probe.WaitForLine("configure is open", 20000)) << probe.Output() << probe.Errors();

    // Close whatever dialog the plug-in shows, the way a user presses OK, and note its owner.
    std::vector<DialogWindow> seen;
    DWORD exit_code = 0;
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (!probe.Wait(100, &exit_code)) {
        ASSERT_LT(::GetTickCount64(), deadline) << "configure did not return; dialogs seen: " << seen.size();
        for (const DialogWindow& d : DialogsOf(probe.id())) {
            seen.push_back(d);
            ::PostMessageA(d.window, WM_COMMAND, IDOK, 0);
        }
    }
    EXPECT_EQ(exit_code, 0u) << probe.Errors();
    EXPECT_NE(probe.Output().find("configure returned 0"), std::string::npos) << probe.Output();
    ASSERT_FALSE(seen.empty()) << "no dialog was shown";
    EXPECT_EQ(seen.front().title, "Sensors");
    EXPECT_EQ(seen.front().owner_title, "vorkast-probe host window") << "the dialog's owner is not the host window";
}

}  // namespace
}  // namespace vorkast::test
