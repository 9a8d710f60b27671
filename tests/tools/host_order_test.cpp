// The start order that comparable plug-ins get wrong: a host that is running before any sensor
// program answers the "not running" message, then real values as soon as a publisher starts,
// and follows a publisher that stops and comes back with another sensor set, all without
// restarting the host.
#include "tests/support/messages.h"
#include "tests/support/plugin_fixture.h"
#include "tests/tools/tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorkast::test {
namespace {

// The answers of one watch line: the text after the time stamp, split at " | ".
std::vector<std::string> Answers(const std::string& line) {
    std::vector<std::string> answers;
    std::string rest = line.size() > 14 ? line.substr(14) : std::string();
    for (;;) {
        const auto bar = rest.find(" | ");
        answers.push_back(rest.substr(0, bar));
        if (bar == std::string::npos) { return answers; }
        rest = rest.substr(bar + 3);
    }
}

std::string Join(const std::vector<std::string>& answers) {
    std::string joined;
    for (const auto& a : answers) { joined += (joined.empty() ? "" : " | ") + a; }
    return joined;
}

// Reads watch lines until one answers `wanted`. Until then each answer must be the one it had
// before (`previous`), already the wanted one, or what a table being made answers: a refresh may
// straddle the publisher's change, but nothing else may appear. A new section is all zeros until
// its writer sets the version and then fills it, so a read in between sees version 0 (by number
// "Invalid Vorkast version detected", by name no match) or count 0 ("Invalid sensor number").
::testing::AssertionResult WaitForAnswers(ChildProcess& watch, const std::vector<std::string>& previous,
                                          const std::vector<std::string>& wanted) {
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    std::string line;
    while (::GetTickCount64() < deadline) {
        if (!watch.ReadLine(&line, 5000)) { break; }
        const std::vector<std::string> got = Answers(line);
        if (got == wanted) { return ::testing::AssertionSuccess(); }
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            if (got.size() != wanted.size() ||
                (got[i] != previous[i] && got[i] != wanted[i] && got[i] != kInvalidNumber &&
                 got[i] != kWrongVersion)) {
                return ::testing::AssertionFailure()
                       << "got \"" << line << "\" while waiting for \"" << Join(wanted) << "\" after \""
                       << Join(previous) << "\"";
            }
        }
    }
    return ::testing::AssertionFailure() << "no line answered \"" << Join(wanted) << "\" within 20 s; last \""
                                         << line << "\"" << watch.Errors();
}

TEST(StartOrder, AHostStartedFirstFollowsEachPublisherWithoutARestart) {
    ASSERT_TRUE(WaitForNoTable(10000));
    ChildProcess watch("vorkast-probe.exe", {"watch", PluginPath(), "ValueBySensor", "1", "ValueByName", "Alpha",
                                            "ValueByName", "Beta", "--interval", "100", "--count", "3000"});
    const std::vector<std::string> nothing = {kNotRunning, kInvalidNumber, kInvalidNumber};
    std::string line;
    ASSERT_TRUE(watch.ReadLine(&line, 20000)) << "no refresh from the host: " << watch.Errors();
    EXPECT_EQ(Answers(line), nothing) << line;

    const TempFile first("Alpha | i4 | 11\n");
    const TempFile second("Beta | i4 | 22\nGamma | i4 | 33\n");
    std::string log;
    {
        auto publisher = StartPublisher({first.path()}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        EXPECT_TRUE(WaitForAnswers(watch, nothing, {"11", "11", kInvalidNumber}));
        publisher->CloseStdin();
        DWORD exit_code = 1;
        ASSERT_TRUE(publisher->Wait(15000, &exit_code));
        EXPECT_TRUE(WaitForAnswers(watch, {"11", "11", kInvalidNumber}, nothing)) << "the host still sees the old table";
    }
    {
        auto publisher = StartPublisher({second.path()}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        EXPECT_TRUE(WaitForAnswers(watch, nothing, {"22", kInvalidNumber, "22"})) << "the host missed the new sensor set";
    }
    DWORD exit_code = 0;
    EXPECT_FALSE(watch.Wait(0, &exit_code)) << "the host ended on its own with status " << exit_code;
}

}  // namespace
}  // namespace vorkast::test
