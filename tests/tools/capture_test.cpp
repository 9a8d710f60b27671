// vorkast-dump --capture / --record and vorkast-publish as a round trip: a table captured to a
// file and served again from it is the same table as a reader sees it (header, section size,
// every whole record's name, busy word and value bytes), for the built-in set, hand-made odd
// tables and the randomized tables of the fuzz suite; a recording replays its changes in order
// and with its timing.
//
// Both publishers run one after the other in this test's Wine prefix: the table exists only
// while its publisher runs, so the second one meets no trace of the first, and what travels
// between them is the capture file alone, as between two machines.
#include "tests/fuzz/table_fuzz.h"
#include "tests/tools/seen_table.h"
#include "tests/tools/tool_process.h"
#include "sensors/section.h"
#include "sensors/table_writer.h"
#include "tools/sensor_file/sensor_file.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr char kDump[] = "vorkast-dump.exe";
constexpr char kNoUpdates[] = "3600000";  // generated values keep still during a test

// The first difference, or "".
std::string Difference(const SeenTable& expected, const SeenTable& got) {
    if (expected.present != got.present) { return got.present ? "a table where none was" : "no table"; }
    if (expected.readable != got.readable) {
        return "readable " + std::to_string(got.readable) + " bytes, expected " + std::to_string(expected.readable);
    }
    if (expected.header != got.header) { return "header " + got.header + ", expected " + expected.header; }
    for (std::size_t i = 0; i < expected.records.size(); ++i) {
        if (expected.records[i] != got.records[i]) {
            return "record " + std::to_string(i + 1) + ": " + got.records[i] + "\n  expected " + expected.records[i];
        }
    }
    return {};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Captures the live table into `capture`, lets `withdraw` take the table away, serves the
// capture with `options` and compares what a reader sees before and after. "" when equal.
std::string RoundTrip(const std::function<void()>& withdraw, const TempFile& capture,
                      std::vector<std::string> options = {"--keep-busy"}, SeenTable* replayed = nullptr) {
    const SeenTable before = SeeTable();
    if (!before.present) { return "no table to capture"; }
    const ToolResult dump = RunTool(kDump, {"--capture", capture.path()});
    if (!dump.finished || dump.exit_code != 0) { return "vorkast-dump --capture failed: " + dump.out + dump.err; }
    withdraw();
    if (!WaitForNoTable(10000)) { return "the original table was not withdrawn"; }
    options.insert(options.begin(), capture.path());
    options.insert(options.end(), {"--interval", kNoUpdates});
    std::string log;
    auto publisher = StartPublisher(options, &log);
    if (publisher == nullptr) {
        return "the capture was not served: " + log + "\ncapture:\n" + ReadFile(capture.path()).substr(0, 3000);
    }
    const SeenTable after = SeeTable();
    if (replayed != nullptr) { *replayed = after; }
    publisher.reset();
    if (!WaitForNoTable(10000)) { return "the replayed table was not withdrawn"; }
    const std::string difference = Difference(before, after);
    return difference.empty() ? "" : difference + "\ncapture:\n" + ReadFile(capture.path()).substr(0, 3000);
}

class Capture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WaitForNoTable(10000)) << "a table from an earlier test is still published"; }
};

TEST_F(Capture, TheBuiltInSetSurvivesCaptureAndReplay) {
    std::string log;
    auto publisher = StartPublisher({"--interval", kNoUpdates}, &log);
    ASSERT_NE(publisher, nullptr) << log;
    const TempFile capture("");
    EXPECT_EQ(RoundTrip([&] { publisher.reset(); }, capture), "");
}

TEST_F(Capture, AMalformedCaptureIsRefusedLineByLineAndNothingIsPublished) {
    const TempFile file(std::string(tools::kFormat2Line) +
                        "\n@table version 1 count 2 section-bytes 4096\n"
                        "\"A\" | i4 | 1 | busy\n"       // line 3
                        "\"B | i4 | 2\n"                 // line 4
                        "\"C\" | i4 | 3\n"
                        "@at 100\n"
                        "@set 9 | i4 | 4\n"             // line 7
                        "@at 50\n"                      // line 8
                        "@end 200\n");
    const ToolResult r = RunTool("vorkast-publish.exe", {file.path()});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 1u);
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 5u) << r.err;
    const char* const numbers[] = {": line 3: ", ": line 4: ", ": line 7: ", ": line 8: "};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i].rfind(file.path() + numbers[i], 0), 0u) << lines[i];
    }
    EXPECT_EQ(lines[4], "vorkast-publish: 4 errors in " + file.path() + "; nothing published");
    EXPECT_FALSE(TablePublished());

    const ToolResult loop = RunTool("vorkast-publish.exe", {"--loop"});
    EXPECT_EQ(loop.exit_code, 2u) << "--loop without a recording: " << loop.err;
    const ToolResult dump = RunTool(kDump, {"--interval", "20"});
    EXPECT_EQ(dump.exit_code, 2u) << "--interval without --record: " << dump.err;
    EXPECT_FALSE(TablePublished());
}

// ---- Hand-made odd tables --------------------------------------------------------------------

StoredVariant Stored(VARTYPE type, const void* data, std::size_t size, std::size_t at = 8) {
    StoredVariant v{};
    std::memcpy(v.bytes, &type, sizeof type);
    std::memcpy(v.bytes + at, data, size);
    return v;
}
template <class T>
StoredVariant Stored(VARTYPE type, T data) { return Stored(type, &data, sizeof data); }

struct OddRecord {
    std::wstring name;  // 322 units: no terminator
    StoredVariant value;
    std::int32_t busy;
};

std::vector<OddRecord> OddRecords() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    StoredVariant junk_padding = Stored<LONG>(VT_I4, 47);
    junk_padding.bytes[2] = 0xAB;
    junk_padding.bytes[7] = 0xCD;
    junk_padding.bytes[12] = 0xEF;
    StoredVariant bad_decimal{};
    bad_decimal.bytes[0] = VT_DECIMAL;
    bad_decimal.bytes[2] = 29;  // scale beyond 28
    bad_decimal.bytes[8] = 1;
    VARIANT decimal;
    ::VariantInit(&decimal);
    ::VarDecFromStr(const_cast<OLECHAR*>(L"-1234.5678901234567890123"), 0x7F, 0, &decimal.decVal);
    decimal.vt = VT_DECIMAL;
    SYSTEMTIME boot{2024, 5, 0, 6, 7, 45, 12, 0};
    double whole_second = 0;
    ::SystemTimeToVariantTime(&boot, &whole_second);
    CY cy_min;
    cy_min.int64 = LLONG_MIN;
    return {
        {L"", Stored<double>(VT_R8, 61.5), 0},
        {L"  blanks around  ", Stored<double>(VT_R8, nan), 0},
        {L"bar | in it", Stored<double>(VT_R8, -0.0), 0},
        {L"#1 at the start", Stored<double>(VT_R8, 4.9e-324), 0},
        {L"tab\there", Stored<double>(VT_R8, 0.1), 0},
        {L"lone high \xD800", Stored<float>(VT_R4, FLT_MAX), 0},
        {L"\xDC00 lone low", Stored<float>(VT_R4, 1.4e-45f), 0},
        {L"pair \xD83D\xDE00 and \x00B0" L"C \x00FC", Stored<SHORT>(VT_BOOL, 1), 0},
        {L"quote \" backslash \\ end\\", Stored<SHORT>(VT_BOOL, VARIANT_TRUE), 0},
        {L"controls \x01\x1F\x7F\x85 \r\n and \xFEFF\xFFFF", junk_padding, 0},
        {std::wstring(321, L'y'), Stored<ULONGLONG>(VT_BSTR, 0xDEADBEEFull), 0},
        {std::wstring(kSensorNameUnits, L'x'), Stored<LONG>(VT_I4 | VT_BYREF, 16), 0},
        {std::wstring(kSensorNameUnits, L'\xD800'), Stored<LONG>(static_cast<VARTYPE>(0x7FFF), -1), 0},
        {L"malformed decimal", bad_decimal, 0},
        {L"decimal", StoreVariant(decimal), 0},
        {L"date, whole second", Stored<double>(VT_DATE, whole_second), 0},
        {L"date, a fraction", Stored<double>(VT_DATE, whole_second + 0.123456789), 0},
        {L"currency", Stored<CY>(VT_CY, cy_min), 0},
        {L"status", Stored<LONG>(VT_ERROR, static_cast<LONG>(0x80004005)), 0},
        {L"i8", Stored<LONGLONG>(VT_I8, LLONG_MIN), 0},
        {L"ui8", Stored<ULONGLONG>(VT_UI8, ULLONG_MAX), 0},
        {L"stuck busy", Stored<LONG>(VT_I4, 7), kRecordBusy},
        {L"odd busy word", Stored<LONG>(VT_I4, 8), 7},
        {L"negative busy word", Stored<LONG>(VT_I4, 9), -1},
        {L"empty with bytes", Stored<LONG>(VT_EMPTY, 5), 0},
        {L"Fan #2", Stored<LONG>(VT_I4, 1200), 0},
    };
}

struct OddShape {
    const char* what;
    std::uint32_t version;
    std::uint16_t count;  // 0xFFFF: the records written
    std::uint16_t reserved;
    std::size_t section_bytes;  // 0: room for the records
};

void Publish(SensorTableWriter& writer, const std::vector<OddRecord>& records, const OddShape& shape) {
    const std::size_t n = std::min(records.size(), writer.capacity());
    for (std::size_t i = 0; i < n; ++i) {
        const OddRecord& r = records[i];
        if (r.name.size() == kSensorNameUnits) {
            writer.set_name_units(i, r.name.data(), r.name.size());
        } else {
            writer.set_name(i, r.name);
        }
        writer.set_stored_value(i, r.value);
        writer.set_busy(i, r.busy);
    }
    if (writer.size() >= kSensorTableHeaderSize) {
        writer.header().reserved = shape.reserved;
        writer.set_version(shape.version);
        writer.set_count(shape.count);
    }
}

TEST_F(Capture, OddTablesSurviveCaptureAndReplay) {
    const std::vector<OddRecord> records = OddRecords();
    const OddShape shapes[] = {
        {"count beyond the records, reserved bytes set", 1, 60, 0xBEEF, 0},
        {"another version, count 0", 0xFFFFFFFFu, 0, 0, 0},
        {"a section of one page that cuts the records", 1, 0xFFFF, 1, 4096},
        {"a section that ends inside a record", 2, 26, 0, SensorTableSize(20) - 300},
        {"a section larger than the records", 1, 26, 0, SensorTableSize(26) + 70000},
    };
    for (const OddShape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        auto writer = std::make_unique<SensorTableWriter>(records.size(), shape.section_bytes);
        Publish(*writer, records, shape);
        const TempFile capture("");
        EXPECT_EQ(RoundTrip([&] { writer.reset(); }, capture), "");
    }
}

TEST_F(Capture, ARecordCapturedBusyIsServedIdleUnlessAsked) {
    const std::vector<OddRecord> records = OddRecords();
    std::size_t stuck = 0;
    while (records[stuck].busy != kRecordBusy) { ++stuck; }
    auto writer = std::make_unique<SensorTableWriter>(records.size());
    Publish(*writer, records, {"plain", 1, static_cast<std::uint16_t>(records.size()), 0, 0});
    const SeenTable original = SeeTable();
    const TempFile capture("");
    SeenTable replayed;
    const std::string difference = RoundTrip([&] { writer.reset(); }, capture, {}, &replayed);
    ASSERT_NE(difference, "") << "the busy record was served busy without --keep-busy";
    ASSERT_EQ(replayed.records.size(), original.records.size());
    for (std::size_t i = 0; i < original.records.size(); ++i) {
        if (i != stuck) {
            EXPECT_EQ(replayed.records[i], original.records[i]) << "record " << i + 1;
            continue;
        }
        std::string idle = original.records[i];
        const std::size_t at = idle.find("busy 01000000");
        ASSERT_NE(at, std::string::npos) << idle;
        idle.replace(at, 13, "busy 00000000");
        EXPECT_EQ(replayed.records[i], idle) << "the record captured busy, served without --keep-busy";
    }
}

// ---- The randomized tables of the fuzz suite ---------------------------------------------------

constexpr std::uint64_t kRandomSeed = 20240506;
constexpr std::uint64_t kTablesPerPart = 50;

// Where the 32-bit code is emulated (scripts/i386-emulation), every process start costs about
// 0.3 s instead of 0.05 s and each table starts several: there each part takes its first
// tables only, so the same parts run with fewer cases.
std::uint64_t TablesPerPart() {
    char flag[8];
    const bool emulated = ::GetEnvironmentVariableA("VORKAST_I386_EMULATED", flag, sizeof flag) != 0;
    if (emulated) { std::printf("emulated 32-bit code: 10 of the %u tables of this part\n", static_cast<unsigned>(kTablesPerPart)); }
    return emulated ? 10 : kTablesPerPart;
}

class RandomTables : public ::testing::TestWithParam<std::uint64_t> {
protected:
    void SetUp() override { ASSERT_TRUE(WaitForNoTable(10000)) << "a table from an earlier test is still published"; }
};

TEST_P(RandomTables, EachSurvivesCaptureAndReplay) {
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const TempFile capture("");
    int failures = 0;
    const std::uint64_t first = GetParam() * kTablesPerPart;
    const std::uint64_t end = first + TablesPerPart();
    for (std::uint64_t n = first; n < end && failures < 3; ++n) {
        const fuzz::CaseTable t = fuzz::TableOfCase(kRandomSeed, n, system.dwPageSize, 0.05);
        SCOPED_TRACE(fuzz::CaseName(kRandomSeed, n));
        if (!t.present) {
            const ToolResult dump = RunTool(kDump, {"--capture", capture.path()});
            EXPECT_EQ(dump.exit_code, 1u) << "captured a table that is not there: " << dump.out;
            continue;
        }
        auto writer = std::make_unique<SensorTableWriter>(0, t.section_bytes);
        std::memcpy(&writer->header(), t.image.data(), t.section_bytes);
        const std::string difference = RoundTrip([&] { writer.reset(); }, capture);
        EXPECT_EQ(difference, "") << "section " << t.section_bytes << " bytes";
        if (!difference.empty()) { ++failures; }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeded, RandomTables, ::testing::Range<std::uint64_t>(0, 6));

// ---- Recording and replay ----------------------------------------------------------------------

LONG ValueOf(const SeenTable& seen, std::size_t index, bool* ok) {
    *ok = false;
    if (!seen.present || index >= seen.records.size()) { return 0; }
    const std::string& r = seen.records[index];
    const std::size_t at = r.find("value ");
    if (at == std::string::npos || r.compare(at + 6, 4, "0300") != 0) { return 0; }  // VT_I4
    unsigned bytes[4];
    for (int b = 0; b < 4; ++b) { bytes[b] = std::stoul(r.substr(at + 6 + 16 + 2 * b, 2), nullptr, 16); }
    *ok = true;
    return static_cast<LONG>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24);
}

// Sensor 2's values as a reader sees them, each new one with the time it appeared, until
// `done` says so or `timeout_ms` passes.
struct Seen {
    LONG value;
    ULONGLONG at;
};
std::vector<Seen> Watch(const std::function<bool(const std::vector<Seen>&)>& done, DWORD timeout_ms) {
    std::vector<Seen> seen;
    const ULONGLONG end = ::GetTickCount64() + timeout_ms;
    while (::GetTickCount64() < end && !done(seen)) {
        bool ok = false;
        const LONG v = ValueOf(SeeTable(), 1, &ok);
        if (ok && (seen.empty() || seen.back().value != v)) { seen.push_back({v, ::GetTickCount64()}); }
        ::Sleep(2);
    }
    return seen;
}

std::string Values(const std::vector<Seen>& seen) {
    std::string text;
    for (const Seen& s : seen) { text += std::to_string(s.value) + " "; }
    return text;
}

TEST_F(Capture, ARecordingReplaysItsChangesInOrderWithTheirTiming) {
    constexpr LONG kSteps = 8;
    constexpr DWORD kStepMs = 150;
    auto writer = std::make_unique<SensorTableWriter>(3);
    writer->set_name(0, L"Still");
    writer->set_value(0, MakeI4(-5));
    writer->set_name(1, L"Steps");
    writer->set_value(1, MakeI4(1));
    writer->set_name(2, L"Renamed");
    writer->set_value(2, MakeBool(false));
    writer->set_count(3);

    const TempFile recording("");
    ChildProcess recorder(kDump, {"--record", recording.path(), "--interval", "20", "--ignore-stdin", "--duration",
                                  std::to_string(kSteps * kStepMs + 300)});
    ASSERT_TRUE(recorder.WaitForLine("vorkast-dump: recording", 10000)) << recorder.Output() << recorder.Errors();
    for (LONG v = 2; v <= kSteps; ++v) {
        ::Sleep(kStepMs);
        writer->set_value(1, MakeI4(v));
        if (v == 4) { writer->set_name_units(2, L"Pump\0", 5); }
    }
    DWORD exit_code = 1;
    ASSERT_TRUE(recorder.Wait(20000, &exit_code));
    ASSERT_EQ(exit_code, 0u) << recorder.Output() << recorder.Errors();
    writer.reset();
    ASSERT_TRUE(WaitForNoTable(10000));

    // The file: the table once, then sensor 2's steps in order, the rename, and the end.
    const tools::SensorFile file = tools::ParseSensorFile(ReadFile(recording.path()));
    ASSERT_TRUE(file.ok()) << tools::FormatMessage(file.errors[0]) << "\n" << ReadFile(recording.path());
    ASSERT_EQ(file.sensors.size(), 3u) << ReadFile(recording.path());
    std::vector<unsigned long long> step_at;
    LONG expected = 2;
    bool renamed = false;
    for (const tools::RecordedChange& c : file.changes) {
        if (c.kind == tools::RecordedChange::Kind::name) {
            EXPECT_EQ(c.index, 2u);
            EXPECT_TRUE(c.name == L"Pump");
            renamed = true;
            continue;
        }
        ASSERT_EQ(c.kind, tools::RecordedChange::Kind::value) << "line " << c.line;
        ASSERT_EQ(c.index, 1u) << "line " << c.line << " changes a sensor that kept still";
        EXPECT_EQ(LoadStoredVariant(c.value).lVal, expected++) << "line " << c.line;
        step_at.push_back(c.at_ms);
    }
    ASSERT_EQ(step_at.size(), static_cast<std::size_t>(kSteps - 1)) << ReadFile(recording.path());
    EXPECT_TRUE(renamed);
    for (std::size_t i = 1; i < step_at.size(); ++i) {
        EXPECT_GE(step_at[i] - step_at[i - 1], kStepMs - 50) << "steps " << i << " and " << i + 1;
    }
    EXPECT_GE(file.end_ms, step_at.back());

    {
        SCOPED_TRACE("replayed once");
        std::string log;
        auto publisher = StartPublisher({recording.path(), "--interval", kNoUpdates}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        const ULONGLONG started = ::GetTickCount64();
        const std::vector<Seen> seen =
            Watch([&](const std::vector<Seen>& s) { return !s.empty() && s.back().value == kSteps; }, 15000);
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(kSteps)) << Values(seen);
        for (LONG v = 1; v <= kSteps; ++v) { EXPECT_EQ(seen[v - 1].value, v) << Values(seen); }
        // Each step appears no earlier than recorded (after the publisher said it serves).
        for (std::size_t i = 1; i < seen.size(); ++i) {
            EXPECT_GE(seen[i].at - started + 100, step_at[i - 1]) << "step " << i + 1 << " came early";
        }
        EXPECT_LE(seen.back().at - seen[1].at, step_at.back() - step_at.front() + 2000) << "the replay dawdled";
        EXPECT_TRUE(publisher->WaitForLine("the recording has been replayed", 10000)) << publisher->Output();
        bool ok = false;
        EXPECT_EQ(ValueOf(SeeTable(), 1, &ok), kSteps) << "the last state stays";
    }
    ASSERT_TRUE(WaitForNoTable(10000));
    {
        SCOPED_TRACE("--loop");
        std::string log;
        auto publisher = StartPublisher({recording.path(), "--loop", "--interval", kNoUpdates}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        const std::vector<Seen> seen = Watch(
            [&](const std::vector<Seen>& s) { return s.size() >= static_cast<std::size_t>(kSteps + 2); }, 20000);
        ASSERT_GE(seen.size(), static_cast<std::size_t>(kSteps + 2)) << Values(seen);
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].value, static_cast<LONG>(i % kSteps) + 1) << Values(seen);
        }
    }
}

}  // namespace
}  // namespace vorkast::test
