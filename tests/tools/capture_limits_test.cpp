// Where a capture or a replay could fall short without a word: a section larger than the
// publisher served (now up to 512 MiB, what a 32-bit publisher can map), a view with more
// records than a count can hold, the last change of a looped recording, and a change of the
// header's reserved word. Each either works or is said plainly.
#include "tests/tools/seen_table.h"
#include "tests/tools/tool_process.h"
#include "sensors/section.h"
#include "sensors/table_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr char kDump[] = "vorkast-dump.exe";
constexpr char kNoUpdates[] = "3600000";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CaptureLimits : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WaitForNoTable(10000)) << "a table from an earlier test is still published"; }
};

// A section far beyond what its records need is served at its size, up to the largest a file
// may give (512 MiB); its pages stay untouched, so it costs no memory.
TEST_F(CaptureLimits, ASectionUpTo512MiBIsServed) {
    for (const unsigned long long bytes : {314572800ull, 536870912ull}) {
        SCOPED_TRACE(std::to_string(bytes) + " bytes");
        const TempFile file("@vorkast-sensor-file 2\n"
                            "@table version 1 count 1 reserved 0x0000 section-bytes " + std::to_string(bytes) + "\n"
                            "\"A\" | i4 | 7\n");
        std::string log;
        auto publisher = StartPublisher({file.path(), "--interval", kNoUpdates}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        {
            const SensorSection section;
            ASSERT_TRUE(section.is_open());
            EXPECT_EQ(section.readable_size(), bytes);
            ASSERT_NE(section.record(0), nullptr);
            EXPECT_EQ(std::wstring(section.record(0)->name), L"A");
        }
        publisher.reset();
        ASSERT_TRUE(WaitForNoTable(10000));
    }
}

// A section beyond what vorkast-publish serves cannot be captured for it: the dump says so and
// fails, and writes no file.
TEST_F(CaptureLimits, ASectionTooLargeToServeIsRefusedAtCapture) {
    constexpr std::size_t kTooLarge = (std::size_t{512} << 20) + 4096;
    std::unique_ptr<SensorTableWriter> writer;
    try {
        writer = std::make_unique<SensorTableWriter>(0, kTooLarge);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "this process cannot map a section of " << kTooLarge << " bytes: " << e.what();
    }
    writer->set_count(0);
    const TempFile capture("");
    ::DeleteFileA(capture.path().c_str());
    for (const char* mode : {"--capture", "--record"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> arguments = {mode, capture.path()};
        if (std::string(mode) == "--record") { arguments.insert(arguments.end(), {"--duration", "100"}); }
        const ToolResult r = RunTool(kDump, arguments);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, 1u) << r.out << r.err;
        // A dump of either bitness maps the whole section first; one that cannot says that.
        if (r.err.find("could not be served again") == std::string::npos &&
            r.err.find("cannot be mapped") == std::string::npos) {
            ADD_FAILURE() << "expected the dump to say why it does not capture; it printed:\n" << r.out << r.err;
        }
        EXPECT_EQ(::GetFileAttributesA(capture.path().c_str()), INVALID_FILE_ATTRIBUTES) << "a file was written";
    }
}

// Every whole record of the view is captured, also beyond record 65,535 (which no count can
// reach), and served again.
TEST_F(CaptureLimits, RecordsBeyondTheLargestCountAreCapturedAndServed) {
    constexpr std::size_t kRecords = 65540;
    auto writer = std::make_unique<SensorTableWriter>(kRecords);
    writer->set_name(0, L"First");
    writer->set_value(0, MakeI4(1));
    writer->set_name(65537, L"Beyond any count");
    writer->set_value(65537, MakeI4(65538));
    writer->set_count(1);
    const SeenTable before = SeeTable();
    ASSERT_GE(before.records.size(), kRecords);  // the view ends on a page: a record more may fit

    const TempFile capture("");
    const ToolResult dump = RunTool(kDump, {"--capture", capture.path()});
    ASSERT_EQ(dump.exit_code, 0u) << dump.out << dump.err;
    EXPECT_NE(dump.out.find(" " + std::to_string(before.records.size()) + " whole records"), std::string::npos)
        << dump.out;
    writer.reset();
    ASSERT_TRUE(WaitForNoTable(10000));

    std::string log;
    auto publisher = StartPublisher({capture.path(), "--interval", kNoUpdates}, &log);
    ASSERT_NE(publisher, nullptr) << log;
    const SeenTable after = SeeTable();
    ASSERT_EQ(after.records.size(), before.records.size());
    EXPECT_EQ(after.header, before.header);
    for (std::size_t i : {std::size_t{0}, std::size_t{65534}, std::size_t{65535}, std::size_t{65537}, kRecords - 1}) {
        EXPECT_EQ(after.records[i], before.records[i]) << "record " << i + 1;
    }
}

LONG SecondValue(bool* ok) {
    *ok = false;
    const SensorSection section;
    if (!section.is_open() || section.record(1) == nullptr) { return 0; }
    const SensorRecord* r = section.record(1);
    StoredVariant v;
    std::memcpy(&v, &r->value, sizeof v);
    if (StoredType(v) != VT_I4) { return 0; }
    *ok = true;
    return LoadStoredVariant(v).lVal;
}

// A looped recording shows its last state for a while before it starts again, whether or not
// it says its length.
TEST_F(CaptureLimits, ALoopedRecordingShowsItsLastChange) {
    const char* const endings[] = {"", "@end 300\n"};
    for (const char* ending : endings) {
        SCOPED_TRACE(*ending == '\0' ? "no @end" : ending);
        const TempFile file(std::string("@vorkast-sensor-file 2\n"
                                        "\"A\" | i4 | 0\n\"B\" | i4 | 1\n"
                                        "@at 100\n@set 2 | i4 | 2\n"
                                        "@at 200\n@set 2 | i4 | 3\n"
                                        "@at 300\n@set 2 | i4 | 4\n") + ending);
        std::string log;
        auto publisher = StartPublisher({file.path(), "--loop", "--interval", kNoUpdates}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        std::vector<LONG> seen;
        const ULONGLONG end = ::GetTickCount64() + 5000;
        while (::GetTickCount64() < end && seen.size() < 9) {
            bool ok = false;
            const LONG v = SecondValue(&ok);
            if (ok && (seen.empty() || seen.back() != v)) { seen.push_back(v); }
            ::Sleep(2);
        }
        std::string values;
        for (LONG v : seen) { values += std::to_string(v) + " "; }
        ASSERT_GE(seen.size(), 9u) << values;
        const LONG first = seen[0];
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i], (first - 1 + static_cast<LONG>(i)) % 4 + 1) << "seen: " << values;
        }
        publisher.reset();
        ASSERT_TRUE(WaitForNoTable(10000));
    }
}

// A change of the header's reserved word is recorded like its version and count, and replayed.
TEST_F(CaptureLimits, ARecordingKeepsChangesOfTheReservedWord) {
    auto writer = std::make_unique<SensorTableWriter>(1);
    writer->set_name(0, L"A");
    writer->set_value(0, MakeI4(1));
    writer->set_count(1);
    const TempFile recording("");
    ChildProcess recorder(kDump, {"--record", recording.path(), "--interval", "20", "--ignore-stdin", "--duration",
                                  "700"});
    ASSERT_TRUE(recorder.WaitForLine("vorkast-dump: recording", 10000)) << recorder.Output() << recorder.Errors();
    ::Sleep(250);
    writer->header().reserved = 0xBEEF;
    DWORD exit_code = 1;
    ASSERT_TRUE(recorder.Wait(20000, &exit_code));
    ASSERT_EQ(exit_code, 0u) << recorder.Output() << recorder.Errors();
    writer.reset();
    ASSERT_TRUE(WaitForNoTable(10000));
    const std::string text = ReadFile(recording.path());
    const std::size_t at = text.find("\n@at ");
    ASSERT_NE(at, std::string::npos) << "no change recorded:\n" << text;
    EXPECT_NE(text.find("reserved 0xBEEF", at), std::string::npos) << text;

    std::string log;
    auto publisher = StartPublisher({recording.path(), "--interval", kNoUpdates}, &log);
    ASSERT_NE(publisher, nullptr) << log;
    std::string header;
    const ULONGLONG end = ::GetTickCount64() + 5000;
    while (::GetTickCount64() < end && header != "010000000100efbe") {
        header = SeeTable().header;
        ::Sleep(10);
    }
    EXPECT_EQ(header, "010000000100efbe") << "the replayed header";
}

}  // namespace
}  // namespace vorkast::test
