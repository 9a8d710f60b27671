// vorkast-publish and vorkast-dump as separate processes: the dump shows what the publisher
// serves (odd tables included), the publisher stops cleanly, refuses a second table and a bad
// file, and keeps generated values changing.
#include "tests/tools/tool_process.h"
#include "tools/common/console.h"
#include "tools/sensor_file/sensor_file.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr char kDump[] = "vorkast-dump.exe";
constexpr char kPublish[] = "vorkast-publish.exe";

// The record lines of a dump, each split at runs of two or more blanks: number, name, type,
// value (fewer fields where a name or value is empty).
std::vector<std::vector<std::string>> Rows(const std::string& dump) {
    std::vector<std::vector<std::string>> rows;
    bool in_table = false;
    for (const std::string& line : Lines(dump)) {
        if (!in_table) {
            in_table = line.find("#  Name") != std::string::npos;
            continue;
        }
        if (line.rfind("note:", 0) == 0) { break; }
        std::vector<std::string> fields;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ') { ++i; }
            std::size_t end = line.find("  ", i);
            if (end == std::string::npos) { end = line.size(); }
            if (end > i) { fields.push_back(line.substr(i, end - i)); }
            i = end;
        }
        rows.push_back(fields);
    }
    return rows;
}

// A value's text as this process's locale writes it, the way the dump converts it.
std::string TextOf(VARIANT value) {
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, &value, 0, VT_BSTR))) { return "?"; }
    const std::string utf8 = tools::ToUtf8(text.bstrVal);
    ::VariantClear(&text);
    return utf8;
}

// The built-in sensor set, as vorkast-publish --print-default prints it.
tools::SensorFile BuiltInSet() {
    const ToolResult r = RunTool(kPublish, {"--print-default"});
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    return tools::ParseSensorFile(r.out);
}

class PublishAndDump : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WaitForNoTable(10000)) << "a table from an earlier test is still published"; }
};

TEST_F(PublishAndDump, WithoutATableTheDumpSaysSo) {
    const ToolResult r = RunTool(kDump, {});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.out, "No sensor table: VorkastSensors does not exist (Vorkast is not running).\r\n");
}

TEST_F(PublishAndDump, TheDumpListsEveryRecordAsServed) {
    const TempFile file(
        "CPU Package | r8 | 45.5\n"
        "Fan 1 | i4 | 1200\n"
        "Fan Failure | bool | false\n"
        "Boot Time | date | 2024-05-06 07:45:12\n"
        "Nothing | empty\n"
        "Pointer | raw | 08 00 00 00 00 00 00 00 ef be ad de 00 00 00 00\n"
        "Array | raw | 03 20 00 00 00 00 00 00 ef be ad de 00 00 00 00\n"
        "Temp \xC2\xB0" "C | r8 | 1.5\n"
        "Bad Decimal | raw | 0e 00 ff 00 00 00 00 00 01 00 00 00 00 00 00 00\n");
    std::string log;
    const auto publisher = StartPublisher({file.path()}, &log);
    ASSERT_NE(publisher, nullptr) << log;

    const ToolResult r = RunTool(kDump, {});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    EXPECT_EQ(Lines(r.out)[0].rfind("VorkastSensors: version 1, count 9; ", 0), 0u) << r.out;

    VARIANT date;
    ::VariantInit(&date);
    date.vt = VT_DATE;
    SYSTEMTIME boot{2024, 5, 0, 6, 7, 45, 12, 0};
    ::SystemTimeToVariantTime(&boot, &date.date);
    VARIANT real;
    ::VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 45.5;
    const std::string not_read = "(refers to the writer's memory; not read)";
    const std::vector<std::vector<std::string>> expected = {
        {"1", "CPU Package", "r8", TextOf(real)},
        {"2", "Fan 1", "i4", "1200"},
        {"3", "Fan Failure", "bool", "0"},
        {"4", "Boot Time", "date", TextOf(date)},
        {"5", "Nothing", "empty"},
        {"6", "Pointer", "bstr", not_read},
        {"7", "Array", "array of i4", not_read},
        {"8", "Temp \xC2\xB0" "C", "r8", TextOf([] { VARIANT v; ::VariantInit(&v); v.vt = VT_R8; v.dblVal = 1.5; return v; }())},
        {"9", "Bad Decimal", "decimal", "(no text form: 0x80070057)"},  // scale 255: never converted
    };
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < rows.size(); ++i) { EXPECT_EQ(rows[i], expected[i]) << "record " << i + 1 << " in\n" << r.out; }
}

struct OddCase {
    const char* what;
    std::string file;
    std::vector<std::string> options;
    std::vector<std::string> dump_shows;  // parts of the dump's output
    std::size_t rows;
};

std::string ManySensors(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) { text += "S" + std::to_string(i) + " | i4 | " + std::to_string(i) + "\n"; }
    return text;
}

TEST_F(PublishAndDump, OddTablesAreShownAsTheyAre) {
    const OddCase cases[] = {
        {"another version", "A | i4 | 1\n", {"--version", "2"},
         {"version 2, count 1", "note: the plug-in reads only version 1"}, 1},
        {"count 0", "A | i4 | 1\n", {"--count", "0"}, {"count 0;", "(no records)"}, 0},
        {"count beyond the section", ManySensors(10), {"--section-bytes", "4096"},
         {"count 10; 4096 bytes readable (5 whole records)",
          "note: count claims 10 records but only 5 lie inside the section"}, 5},
        {"count beyond the filled records", "A | i4 | 1\n", {"--count", "3"}, {"count 3;"}, 3},
        {"more than 127 records", ManySensors(130), {}, {"count 130;", "above number 127"}, 130},
    };
    for (const OddCase& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFile file(c.file);
        std::vector<std::string> arguments = {file.path()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::string log;
        auto publisher = StartPublisher(arguments, &log);
        ASSERT_NE(publisher, nullptr) << log;
        const ToolResult r = RunTool(kDump, {});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, 0u) << r.out << r.err;
        for (const std::string& part : c.dump_shows) {
            EXPECT_NE(r.out.find(part), std::string::npos) << "missing \"" << part << "\" in\n" << r.out;
        }
        EXPECT_EQ(Rows(r.out).size(), c.rows) << r.out;
        publisher.reset();
        ASSERT_TRUE(WaitForNoTable(10000));
    }
}

TEST_F(PublishAndDump, ThePublisherStopsCleanlyAndWithdrawsTheTable) {
    const TempFile file("A | i4 | 1\n");
    {
        SCOPED_TRACE("end of standard input");
        std::string log;
        const auto publisher = StartPublisher({file.path()}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        EXPECT_TRUE(TablePublished());
        publisher->CloseStdin();
        DWORD exit_code = 1;
        ASSERT_TRUE(publisher->Wait(15000, &exit_code)) << "still running after its input ended";
        EXPECT_EQ(exit_code, 0u);
        EXPECT_NE(publisher->Output().find("stopped (end of standard input); VorkastSensors withdrawn"),
                  std::string::npos) << publisher->Output();
        EXPECT_TRUE(WaitForNoTable(5000)) << "the table outlived its publisher";
    }
    {
        SCOPED_TRACE("--ignore-stdin and --stop-after");
        std::string log;
        const auto publisher = StartPublisher({file.path(), "--ignore-stdin", "--stop-after", "4000"}, &log);
        ASSERT_NE(publisher, nullptr) << log;
        publisher->CloseStdin();
        DWORD exit_code = 1;
        EXPECT_FALSE(publisher->Wait(500, &exit_code)) << "it stopped at the end of its input";
        ASSERT_TRUE(publisher->Wait(15000, &exit_code)) << "--stop-after did not stop it";
        EXPECT_EQ(exit_code, 0u);
        EXPECT_NE(publisher->Output().find("stopped (--stop-after)"), std::string::npos) << publisher->Output();
        EXPECT_TRUE(WaitForNoTable(5000));
    }
}

TEST_F(PublishAndDump, ASecondPublisherIsRefusedAndTheFirstKeepsServing) {
    const TempFile file("A | i4 | 1\n");
    std::string log;
    const auto first = StartPublisher({file.path()}, &log);
    ASSERT_NE(first, nullptr) << log;
    const ToolResult second = RunTool(kPublish, {});
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exit_code, 1u);
    EXPECT_NE(second.err.find("vorkast-publish: cannot publish: a VorkastSensors table is already published"),
              std::string::npos) << second.err;
    const ToolResult dump = RunTool(kDump, {});
    EXPECT_EQ(Rows(dump.out), (std::vector<std::vector<std::string>>{{"1", "A", "i4", "1"}})) << dump.out;
}

TEST_F(PublishAndDump, ABadFileIsRefusedAndNothingIsPublished) {
    const TempFile file("Good | i4 | 1\nBad | i4 | 1.5\nWorse | float | 2\n");
    const ToolResult r = RunTool(kPublish, {file.path()});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 1u);
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 3u) << r.err;
    EXPECT_EQ(lines[0].rfind(file.path() + ": line 2: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind(file.path() + ": line 3: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "vorkast-publish: 2 errors in " + file.path() + "; nothing published");
    EXPECT_EQ(r.out.find("publishing"), std::string::npos) << r.out;
    EXPECT_FALSE(TablePublished());

    const ToolResult missing = RunTool(kPublish, {"no-such-sensors.txt"});
    EXPECT_EQ(missing.exit_code, 1u);
    EXPECT_NE(missing.err.find("cannot read no-such-sensors.txt"), std::string::npos) << missing.err;

    const ToolResult wrong = RunTool(kPublish, {"--interval", "soon"});
    EXPECT_EQ(wrong.exit_code, 2u);
    EXPECT_NE(wrong.err.find("usage: vorkast-publish"), std::string::npos) << wrong.err;
    EXPECT_FALSE(TablePublished());
}

TEST_F(PublishAndDump, CheckReadsTheFileAndPublishesNothing) {
    const TempFile file("A | i4 | 1\nB | r8 | sine 1 2 3\n");
    const ToolResult r = RunTool(kPublish, {"--check", file.path()});
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out, file.path() + ": 2 sensors, no errors\r\n");
    EXPECT_FALSE(TablePublished());
}

TEST_F(PublishAndDump, GeneratedValuesKeepChanging) {
    const TempFile file("Ramp | i4 | ramp 0 100000000 1000\n");
    std::string log;
    const auto publisher = StartPublisher({file.path(), "--interval", "50"}, &log);
    ASSERT_NE(publisher, nullptr) << log;
    auto value = [] {
        const auto rows = Rows(RunTool(kDump, {}).out);
        return rows.size() == 1 && rows[0].size() == 4 ? std::stoll(rows[0][3]) : -1;
    };
    const long long first = value();
    ::Sleep(300);
    const long long second = value();
    EXPECT_GE(first, 0);
    EXPECT_GT(second, first) << "the ramp did not move";
}

TEST_F(PublishAndDump, TheBuiltInSetIsValidAndCoversEveryKind) {
    const tools::SensorFile f = BuiltInSet();
    ASSERT_TRUE(f.ok()) << tools::FormatMessage(f.errors[0]);
    EXPECT_TRUE(f.warnings.empty()) << tools::FormatMessage(f.warnings[0]);
    int reals = 0, integers = 0, bools = 0, dates = 0, changing = 0;
    for (const tools::SensorDefinition& s : f.sensors) {
        reals += s.type == VT_R8 || s.type == VT_R4;
        integers += s.type == VT_I4;
        bools += s.type == VT_BOOL;
        dates += s.type == VT_DATE;
        changing += s.generator != tools::Generator::fixed;
    }
    EXPECT_GE(reals, 5) << "temperatures, voltages, load";
    EXPECT_GE(integers, 2) << "fan speeds";
    EXPECT_GE(bools, 1);
    EXPECT_GE(dates, 1);
    EXPECT_GE(changing, 5);
}

TEST_F(PublishAndDump, WithoutAFileTheBuiltInSetIsServed) {
    std::string log;
    const auto publisher = StartPublisher({}, &log);
    ASSERT_NE(publisher, nullptr) << log;
    const auto rows = Rows(RunTool(kDump, {}).out);
    const tools::SensorFile builtin = BuiltInSet();
    ASSERT_EQ(rows.size(), builtin.sensors.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_GE(rows[i].size(), 3u);
        EXPECT_EQ(rows[i][1], tools::ToUtf8(builtin.sensors[i].name));
    }
}

}  // namespace
}  // namespace vorkast::test
