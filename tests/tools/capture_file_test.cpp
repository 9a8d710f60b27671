// The second form of the sensor file, parsed directly: quoted names for every field a record
// can hold, the table line, the busy column and recorded changes; old files unchanged; every
// bad line of a capture reported once with its number; exact value texts.
#include "tools/sensor_file/quoted_name.h"
#include "tools/sensor_file/sensor_file.h"
#include "tools/sensor_file/value_text.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace vorkast::test {
namespace {

using tools::ParseSensorFile;
using tools::RecordedChange;
using tools::SensorFile;

std::string AllMessages(const SensorFile& f) {
    std::string all;
    for (const auto& e : f.errors) { all += "\n  " + tools::FormatMessage(e); }
    return all;
}

std::string Units(const std::wstring& s) {
    std::string text;
    for (wchar_t c : s) {
        char u[8];
        std::snprintf(u, sizeof u, "%04X ", static_cast<unsigned>(c));
        text += u;
    }
    return text;
}

TEST(CaptureFile, EveryCodeUnitSurvivesTheQuotedName) {
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        const std::wstring name = L"a" + std::wstring(1, static_cast<wchar_t>(unit)) + L"b";
        const std::string quoted = tools::QuoteName(name);
        ASSERT_EQ(quoted.find_first_of("\t\r\n|"), quoted.find('|')) << "unit " << unit << ": " << quoted;
        std::wstring back;
        std::size_t consumed = 0;
        std::string why;
        ASSERT_TRUE(tools::UnquoteName(quoted + " | i4 | 1", &back, &consumed, &why)) << "unit " << unit << ": " << why;
        ASSERT_EQ(consumed, quoted.size()) << "unit " << unit;
        ASSERT_EQ(back, name) << "unit " << unit << ": " << quoted << " read back as " << Units(back);
    }
}

TEST(CaptureFile, QuotedNamesHoldWhatTheOldFormCannot) {
    struct Case {
        std::string line;
        std::wstring name;
    } cases[] = {
        {"\"\" | i4 | 1", L""},
        {"\"  blanks  \" | i4 | 1", L"  blanks  "},
        {"\"a | b\" | i4 | 1", L"a | b"},
        {"\"#1\" | i4 | 1", L"#1"},
        {"\"tab\\there\"|i4|1", L"tab\there"},
        {"\"lone \\uD800 \\udc00\" | i4 | 1", L"lone \xD800 \xDC00"},
        {"\"\\\"q\\\" \\\\ \\r\\n\" | i4 | 1", L"\"q\" \\ \r\n"},
        {"\"Temp \xC2\xB0" "C\" | i4 | 1", L"Temp \u00B0C"},
        {"  Plain name  | i4 | 1", L"Plain name"},  // the old form still works in the new one
        {"\"" + std::string(322, 'x') + "\" | i4 | 1", std::wstring(322, L'x')},
    };
    for (const Case& c : cases) {
        const SensorFile f = ParseSensorFile(std::string(tools::kFormat2Line) + "\n" + c.line + "\n");
        ASSERT_TRUE(f.ok()) << c.line << AllMessages(f);
        ASSERT_EQ(f.sensors.size(), 1u) << c.line;
        EXPECT_EQ(f.sensors[0].name, c.name) << c.line << ": got " << Units(f.sensors[0].name);
    }
}

TEST(CaptureFile, OldFilesReadAsBefore) {
    // Without the first line, quotes and '@' are part of a name, and a fourth column is wrong.
    const SensorFile f = ParseSensorFile("\"Quoted\" | i4 | 1\n@at | i4 | 2\n@vorkast-sensor-file | i4 | 3\n");
    ASSERT_TRUE(f.ok()) << AllMessages(f);
    ASSERT_EQ(f.sensors.size(), 3u);
    EXPECT_EQ(f.sensors[0].name, L"\"Quoted\"");
    EXPECT_EQ(f.sensors[1].name, L"@at");
    EXPECT_EQ(f.sensors[2].name, L"@vorkast-sensor-file");
    EXPECT_FALSE(f.is_recording());
    EXPECT_EQ(f.format, 1);
    const SensorFile four = ParseSensorFile("A | i4 | 1 | busy 1\n");
    ASSERT_EQ(four.errors.size(), 1u);
    EXPECT_NE(four.errors[0].text.find("too many '|'"), std::string::npos) << four.errors[0].text;
}

TEST(CaptureFile, ATableAndARecordingAreRead) {
    const SensorFile f = ParseSensorFile(
        "# captured\n"
        "@vorkast-sensor-file 2\n"
        "@table version 7 count 40 reserved 0xBEEF section-bytes 12288\n"
        "\"A\" | i4 | 1 | busy 1\n"
        "\"B\" | raw | 08 00 00 00 00 00 00 00 ef be ad de 00 00 00 00  # bstr | busy -1\n"
        "@at 0\n"
        "@at 250\n"
        "@set 2 | i4 | 5\n"
        "@set 17 | r8 | 1.5 | busy 0x7\n"
        "@name 1 \"#new | name\"  # a comment\n"
        "@header version 1 count 2\n"
        "@at 300\n"
        "@header version 1 count 3 reserved 0xBEEF\n"
        "@end 1000\n"
        "\n# done\n");
    ASSERT_TRUE(f.ok()) << AllMessages(f);
    EXPECT_EQ(f.format, 2);
    EXPECT_TRUE(f.table.version_given);
    EXPECT_EQ(f.table.version, 7u);
    EXPECT_EQ(f.table.count, 40u);
    EXPECT_EQ(f.table.reserved, 0xBEEF);
    EXPECT_EQ(f.table.section_bytes, 12288u);
    ASSERT_EQ(f.sensors.size(), 2u);
    EXPECT_EQ(f.sensors[0].busy, 1);
    EXPECT_EQ(f.sensors[1].busy, -1);
    EXPECT_TRUE(f.sensors[1].raw);
    ASSERT_EQ(f.changes.size(), 5u);
    EXPECT_EQ(f.changes[0].at_ms, 250u);
    EXPECT_EQ(f.changes[0].index, 1u);
    EXPECT_EQ(LoadStoredVariant(f.changes[0].value).lVal, 5);
    EXPECT_EQ(f.changes[1].index, 16u) << "a change may reach any record of the section";
    EXPECT_EQ(f.changes[1].busy, 7);
    EXPECT_EQ(f.changes[2].kind, RecordedChange::Kind::name);
    EXPECT_EQ(f.changes[2].name, L"#new | name");
    EXPECT_EQ(f.changes[3].kind, RecordedChange::Kind::header);
    EXPECT_EQ(f.changes[3].count, 2u);
    EXPECT_FALSE(f.changes[3].reserved_given) << "a recording from before the reserved word was kept";
    EXPECT_TRUE(f.changes[4].reserved_given);
    EXPECT_EQ(f.changes[4].reserved, 0xBEEF);
    EXPECT_EQ(f.end_ms, 1000u);
}

struct BadCapture {
    std::string line;
    const char* message;
};

TEST(CaptureFile, EveryBadLineOfACaptureIsReportedOnceWithItsNumber) {
    const BadCapture cases[] = {
        {"\"no end | i4 | 1", "no closing '\"'"},
        {"\"bad \\q\" | i4 | 1", "unknown escape"},
        {"\"zero \\u0000\" | i4 | 1", "\\u0000"},
        {"\"short \\u12\" | i4 | 1", "four hexadecimal digits"},
        {"\"x\" i4 | 1", "expected '|' after the quoted name"},
        {"\"" + std::string(323, 'x') + "\" | i4 | 1", "323 UTF-16 units"},
        {"\"x\" | i4 | 1 | busy", "busy N"},
        {"\"x\" | i4 | 1 | hot 1", "busy N"},
        {"\"x\" | i4 | 1 | busy 0x100000000", "busy N"},
        {"\"x\" | i4 | 1 | busy 1 | more", "at most a busy column"},
        {"\"x\" | float | 1", "unknown type"},
        {"@table version 1", "@table must come once, before the first sensor"},
        {"@set 1 | i4 | 1", "needs a time first"},
        {"@frobnicate 3", "unknown line '@frobnicate'"},
        {"@vorkast-sensor-file 2", "must come before every other line"},
        {"@vorkast-sensor-file 3", "reads '@vorkast-sensor-file 2'"},
        {"@at soon", "@at takes the milliseconds"},
    };
    for (const BadCapture& c : cases) {
        const SensorFile f =
            ParseSensorFile(std::string(tools::kFormat2Line) + "\n\"Good\" | i4 | 1\n" + c.line + "\n\"Also\" | i4 | 2\n");
        ASSERT_EQ(f.errors.size(), 1u) << c.line << ":" << AllMessages(f);
        EXPECT_EQ(f.errors[0].line, 3) << c.line;
        EXPECT_NE(f.errors[0].text.find(c.message), std::string::npos)
            << c.line << ": got \"" << f.errors[0].text << "\", expected it to contain \"" << c.message << "\"";
    }
    const BadCapture changes[] = {
        {"@at 5", "goes back in time"},
        {"@set 3 | i4 | 1", "not a record of the table (1 to 2)"},
        {"@set 0 | i4 | 1", "not a record"},
        {"@set 1 | r8 | sine 1 2 3", "not a generator"},
        {"@set 1 | i4", "the value is missing"},
        {"@name 1 Pump", "expected '@name NUMBER \"name\"'"},
        {"@name 1 \"Pump\" extra", "unexpected 'extra'"},
        {"@header count 3", "expected '@header version V count C'"},
        {"@header version 1 count 3 reserved", "expected '@header version V count C'"},
        {"@header version 1 count 3 reserved 0x10000", "expected '@header version V count C'"},
        {"\"Late\" | i4 | 1", "a sensor line after the recording began"},
        {"@end 5", "lies before the last change"},
    };
    for (const BadCapture& c : changes) {
        const SensorFile f = ParseSensorFile(std::string(tools::kFormat2Line) + "\n\"A\" | i4 | 1\n\"B\" | i4 | 1\n" +
                                             "@at 10\n" + c.line + "\n@set 1 | i4 | 2\n@end 20\n");
        ASSERT_EQ(f.errors.size(), 1u) << c.line << ":" << AllMessages(f);
        EXPECT_EQ(f.errors[0].line, 5) << c.line;
        EXPECT_NE(f.errors[0].text.find(c.message), std::string::npos)
            << c.line << ": got \"" << f.errors[0].text << "\", expected it to contain \"" << c.message << "\"";
    }
    const SensorFile after_end = ParseSensorFile(std::string(tools::kFormat2Line) + "\n\"A\" | i4 | 1\n@end 10\n@at 20\n");
    ASSERT_EQ(after_end.errors.size(), 1u) << AllMessages(after_end);
    EXPECT_EQ(after_end.errors[0].line, 4);
}

StoredVariant Stored(VARTYPE type, const void* data, std::size_t size) {
    StoredVariant v{};
    std::memcpy(v.bytes, &type, sizeof type);
    std::memcpy(v.bytes + 8, data, size);
    return v;
}

TEST(CaptureFile, AValueIsWrittenTypedOnlyWhereItReadsBackExactly) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double tenth = 0.1, negative_zero = -0.0, big = 1e308;
    const float third = 1.0f / 3;
    const SHORT odd_true = 1;
    const LONG i4 = -1200;
    StoredVariant padded = Stored(VT_I4, &i4, sizeof i4);
    padded.bytes[3] = 1;
    struct Case {
        const char* what;
        StoredVariant value;
        const char* columns;  // "": raw
    } cases[] = {
        {"r8 0.1", Stored(VT_R8, &tenth, sizeof tenth), "r8 | 0.1"},
        {"r8 -0", Stored(VT_R8, &negative_zero, sizeof negative_zero), "r8 | -0"},
        {"r8 1e308", Stored(VT_R8, &big, sizeof big), "r8 | 1e+308"},
        {"r4 1/3", Stored(VT_R4, &third, sizeof third), "r4 | 0.33333334"},
        {"i4", Stored(VT_I4, &i4, sizeof i4), "i4 | -1200"},
        {"empty", Stored(VT_EMPTY, "", 0), "empty |"},
        {"r8 NaN", Stored(VT_R8, &nan, sizeof nan), ""},
        {"bool 1, not VARIANT_TRUE", Stored(VT_BOOL, &odd_true, sizeof odd_true), ""},
        {"i4 with a byte in its padding", padded, ""},
        {"bstr", Stored(VT_BSTR, &i4, sizeof i4), ""},
    };
    for (const Case& c : cases) {
        const std::string columns = tools::ExactValueColumns(c.value);
        if (*c.columns != '\0') {
            EXPECT_EQ(columns, c.columns) << c.what;
        } else {
            EXPECT_EQ(columns.rfind("raw |", 0), 0u) << c.what << ": " << columns;
        }
        const SensorFile f = ParseSensorFile(std::string(tools::kFormat2Line) + "\n\"x\" | " + columns + "\n");
        ASSERT_TRUE(f.ok()) << c.what << ": " << columns << AllMessages(f);
        EXPECT_EQ(std::memcmp(f.sensors[0].fixed.bytes, c.value.bytes, 16), 0) << c.what << ": " << columns;
    }
}

}  // namespace
}  // namespace vorkast::test
