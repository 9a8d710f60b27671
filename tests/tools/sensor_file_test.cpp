// The sensor file of vorkast-publish, parsed directly: what each kind of line stores, every
// kind of bad line reported with its number, and what the generators produce over time.
#include "tools/sensor_file/generators.h"
#include "tools/sensor_file/sensor_file.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace vorkast::test {
namespace {

using tools::Generator;
using tools::ParseSensorFile;
using tools::SensorDefinition;
using tools::SensorFile;

std::string AllMessages(const SensorFile& f) {
    std::string all;
    for (const auto& e : f.errors) { all += "\n  " + tools::FormatMessage(e); }
    for (const auto& w : f.warnings) { all += "\n  warning " + tools::FormatMessage(w); }
    return all;
}

// A stored value as text, independent of the user's locale: error codes in hex, "null" for
// null, everything else through the invariant locale with Boolean words.
std::string Describe(const StoredVariant& stored) {
    VARIANT v = LoadStoredVariant(stored);
    if (v.vt == VT_ERROR) {
        char text[32];
        std::snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(v.scode));
        return text;
    }
    if (v.vt == VT_NULL) { return "null"; }
    VARIANT text;
    ::VariantInit(&text);
    const HRESULT hr = ::VariantChangeTypeEx(&text, &v, 0x007F, VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) { return "conversion failed"; }
    std::string narrow;
    for (const wchar_t* p = text.bstrVal; p != nullptr && *p != 0; ++p) { narrow += static_cast<char>(*p); }
    ::VariantClear(&text);
    return narrow;
}

struct GoodCase {
    const char* line;
    const wchar_t* name;
    VARTYPE type;
    Generator generator;
    const char* fixed_text;  // for fixed values: the stored value as Describe shows it
};

const GoodCase kGoodLines[] = {
    {"CPU | r8 | 45.5", L"CPU", VT_R8, Generator::fixed, "45.5"},
    {"  Fan 1 |i4|  -1200  ", L"Fan 1", VT_I4, Generator::fixed, "-1200"},
    {"Flags | UI1 | 0xFF", L"Flags", VT_UI1, Generator::fixed, "255"},
    {"Big | i8 | -9223372036854775808", L"Big", VT_I8, Generator::fixed, "-9223372036854775808"},
    {"Huge | ui8 | 18446744073709551615", L"Huge", VT_UI8, Generator::fixed, "18446744073709551615"},
    {"Small | i1 | -128", L"Small", VT_I1, Generator::fixed, "-128"},
    {"OK | bool | yes", L"OK", VT_BOOL, Generator::fixed, "True"},
    {"Off | bool | 0", L"Off", VT_BOOL, Generator::fixed, "False"},
    {"Boot | date | 2024-05-06 07:45", L"Boot", VT_DATE, Generator::fixed, "05/06/2024 07:45:00"},
    {"Leap | date | 2024-02-29", L"Leap", VT_DATE, Generator::fixed, "02/29/2024"},
    {"Money | cy | 12.3456", L"Money", VT_CY, Generator::fixed, "12.3456"},
    {"Exact | decimal | 0.1", L"Exact", VT_DECIMAL, Generator::fixed, "0.1"},
    {"Status | error | 0x80004005", L"Status", VT_ERROR, Generator::fixed, "error 0x80004005"},
    {"Negative status | error | -2147467259", L"Negative status", VT_ERROR, Generator::fixed, "error 0x80004005"},
    {"Nothing | empty", L"Nothing", VT_EMPTY, Generator::fixed, ""},
    {"Void | null |", L"Void", VT_NULL, Generator::fixed, "null"},
    {"Fan #2 | ui2 | 5   # hundreds of rpm", L"Fan #2", VT_UI2, Generator::fixed, "5"},
    {"Temp \xC2\xB0" "C | r4 | 1.5", L"Temp \u00B0C", VT_R4, Generator::fixed, "1.5"},
    {"Temp \xB0" "F | r4 | 1.5", L"Temp \u00B0F", VT_R4, Generator::fixed, "1.5"},  // ANSI, not UTF-8
    {"Ramp | i4 | ramp 100 0 10", L"Ramp", VT_I4, Generator::ramp, nullptr},
    {"Wave | r8 | SINE 1 2 0.5", L"Wave", VT_R8, Generator::sine, nullptr},
    {"Load | r4 | random 3 97", L"Load", VT_R4, Generator::random, nullptr},
    {"Coin | bool | random", L"Coin", VT_BOOL, Generator::random, nullptr},
    {"Blink | bool | toggle 2", L"Blink", VT_BOOL, Generator::toggle, nullptr},
    {"Clock | date | now", L"Clock", VT_DATE, Generator::now, nullptr},
};

TEST(SensorFile, EachKindOfLineStoresItsValue) {
    for (const GoodCase& c : kGoodLines) {
        const SensorFile f = ParseSensorFile(std::string("# a comment\n\n") + c.line + "\r\n");
        ASSERT_TRUE(f.ok()) << c.line << ":" << AllMessages(f);
        ASSERT_EQ(f.sensors.size(), 1u) << c.line;
        const SensorDefinition& s = f.sensors[0];
        EXPECT_EQ(s.line, 3) << c.line;
        EXPECT_EQ(s.name, c.name) << c.line;
        EXPECT_EQ(s.type, c.type) << c.line << ": got type " << s.type;
        EXPECT_EQ(s.generator, c.generator) << c.line;
        EXPECT_FALSE(s.raw) << c.line;
        if (c.fixed_text != nullptr) {
            EXPECT_EQ(Describe(s.fixed), c.fixed_text) << c.line;
            EXPECT_EQ(s.fixed.bytes[0] | (s.fixed.bytes[1] << 8), c.type) << c.line << ": stored type tag";
        }
    }
}

TEST(SensorFile, RawStoresTheSixteenBytesAsGiven) {
    const SensorFile f = ParseSensorFile("Pointer | raw | 08 00 00 00 00 00 00 00 ef be ad de 00 00 00 00\n"
                                         "Joined | RAW | 03000000000000002a00000000000000\n");
    ASSERT_TRUE(f.ok()) << AllMessages(f);
    ASSERT_EQ(f.sensors.size(), 2u);
    const unsigned char pointer[16] = {8, 0, 0, 0, 0, 0, 0, 0, 0xef, 0xbe, 0xad, 0xde, 0, 0, 0, 0};
    EXPECT_TRUE(f.sensors[0].raw);
    EXPECT_EQ(f.sensors[0].type, VT_BSTR);
    EXPECT_EQ(0, std::memcmp(f.sensors[0].fixed.bytes, pointer, 16)) << "raw bytes differ";
    EXPECT_EQ(f.sensors[1].type, VT_I4);
    EXPECT_EQ(Describe(f.sensors[1].fixed), "42");
}

struct BadCase {
    std::string line;
    const char* message;  // a part of the expected error text
};

const BadCase kBadLines[] = {
    {"no separator here", "found no '|'"},
    {"A | r8 | 1 | 2", "too many '|'"},
    {" | r8 | 1", "the name is empty"},
    {std::string(322, 'x') + " | r8 | 1", "at most 321"},
    {"A | float | 1", "unknown type 'float'"},
    {"A | bstr | hello", "refers to memory"},
    {"A |  | 1", "the type is missing"},
    {"A | r8", "the value is missing"},
    {"A | r8 |   # only a comment", "the value is missing"},
    {"A | empty | 3", "takes no value"},
    {"A | i4 | 1.5", "not a whole number"},
    {"A | ui1 | 256", "out of range for ui1"},
    {"A | ui4 | -1", "out of range for ui4"},
    {"A | i1 | -129", "out of range for i1"},
    {"A | i8 | 9223372036854775808", "out of range for i8"},
    {"A | r8 | 1,5", "not a number"},
    {"A | r8 | 1 2", "expected one value or a generator"},
    {"A | r4 | 1e39", "out of range for r4"},
    {"A | bool | maybe", "not a Boolean"},
    {"A | date | 2023-02-29", "not a valid date"},
    {"A | date | 2024-05-06 24:00", "not a valid date"},
    {"A | date | 06.05.2024", "expected a date"},
    {"A | error | 0x1FFFFFFFF", "32-bit status code"},
    {"A | raw | 08 00", "exactly 16 bytes"},
    {"A | raw | zz 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "hexadecimal"},
    {"A | i4 | ramp 1 2", "ramp takes 3 numbers"},
    {"A | i4 | ramp 1 2 0", "period must be more than 0"},
    {"A | r8 | sine 5 1 10", "the minimum '5' is above the maximum '1'"},
    {"A | ui1 | random 0 300", "'300' is out of range for ui1"},
    {"A | i4 | random a 2", "'a' is not a number"},
    {"A | i4 | now", "now gives a date"},
    {"A | r8 | toggle 1", "toggle gives a Boolean"},
    {"A | date | ramp 1 2 3", "needs a number type"},
    {"A | bool | toggle 0", "period must be more than 0"},
};

TEST(SensorFile, EveryBadLineIsReportedWithItsNumber) {
    for (const BadCase& c : kBadLines) {
        const SensorFile f = ParseSensorFile("Good | i4 | 1\n" + c.line + "\nAlso good | r8 | 2\n");
        EXPECT_FALSE(f.ok()) << c.line << ": accepted";
        ASSERT_EQ(f.errors.size(), 1u) << c.line << ":" << AllMessages(f);
        EXPECT_EQ(f.errors[0].line, 2) << c.line;
        EXPECT_NE(f.errors[0].text.find(c.message), std::string::npos)
            << c.line << ": got \"" << f.errors[0].text << "\", expected it to contain \"" << c.message << "\"";
        EXPECT_EQ(f.sensors.size(), 2u) << c.line << ": the good lines around it still parse";
    }
}

TEST(SensorFile, AllErrorsOfAFileAreReportedInOrder) {
    const SensorFile f = ParseSensorFile("\xEF\xBB\xBF" "A | i4 | 1\r\nB | i4 | x\r\n# note\r\nC | q | 1\r\nD | r8 | 2");
    ASSERT_EQ(f.errors.size(), 2u) << AllMessages(f);
    EXPECT_EQ(tools::FormatMessage(f.errors[0]).rfind("line 2: ", 0), 0u) << tools::FormatMessage(f.errors[0]);
    EXPECT_EQ(tools::FormatMessage(f.errors[1]).rfind("line 4: ", 0), 0u) << tools::FormatMessage(f.errors[1]);
    ASSERT_EQ(f.sensors.size(), 2u);
    EXPECT_EQ(f.sensors[0].name, L"A") << "the byte-order mark is not part of the first name";
    EXPECT_EQ(f.sensors[1].line, 5);
}

TEST(SensorFile, WarningsForNamesTheHostCannotUse) {
    std::string text = "Twin | i4 | 1\nTwin | i4 | 2\nWide \xE2\x82\xAC | i4 | 3\n";
    for (int i = 4; i <= 128; ++i) { text += "S" + std::to_string(i) + " | i4 | 0\n"; }
    const SensorFile f = ParseSensorFile(text);
    ASSERT_TRUE(f.ok()) << AllMessages(f);
    ASSERT_EQ(f.warnings.size(), 3u) << AllMessages(f);
    EXPECT_EQ(f.warnings[0].line, 2);
    EXPECT_NE(f.warnings[0].text.find("line 1"), std::string::npos) << f.warnings[0].text;
    EXPECT_EQ(f.warnings[1].line, 3);
    EXPECT_NE(f.warnings[1].text.find("beyond U+00FF"), std::string::npos) << f.warnings[1].text;
    EXPECT_EQ(f.warnings[2].line, 128);
    EXPECT_NE(f.warnings[2].text.find("128"), std::string::npos) << f.warnings[2].text;
}

TEST(SensorFile, MoreSensorsThanTheCountHoldsIsAnError) {
    std::string text;
    for (int i = 1; i <= 65536; ++i) { text += "S | i4 | 0\n"; }
    const SensorFile f = ParseSensorFile(text);
    ASSERT_EQ(f.errors.size(), 1u);
    EXPECT_EQ(f.errors[0].line, 65536);
    EXPECT_EQ(f.sensors.size(), 65535u);
}

double AsDouble(const StoredVariant& stored) {
    VARIANT v = LoadStoredVariant(stored);
    VARIANT d;
    ::VariantInit(&d);
    EXPECT_EQ(::VariantChangeType(&d, &v, 0, VT_R8), S_OK);
    return d.dblVal;
}

SensorDefinition Only(const char* line) {
    SensorFile f = ParseSensorFile(line);
    EXPECT_TRUE(f.ok()) << line << AllMessages(f);
    return f.sensors.empty() ? SensorDefinition{} : f.sensors[0];
}

TEST(SensorFile, GeneratorsFollowTheirShapeAndStayInRange) {
    std::mt19937 random(7);
    const SensorDefinition ramp = Only("R | r8 | ramp 10 20 4");
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(ramp, 0, random)), 10);
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(ramp, 2, random)), 15);
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(ramp, 5, random)), 12.5) << "starts again after its period";

    const SensorDefinition down = Only("D | i4 | ramp 100 0 10");
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(down, 2.5, random)), 75);

    const SensorDefinition sine = Only("S | r8 | sine 1 3 8");
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(sine, 0, random)), 2) << "starts in the middle";
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(sine, 2, random)), 3);
    EXPECT_DOUBLE_EQ(AsDouble(tools::SensorValueAt(sine, 6, random)), 1);

    const SensorDefinition integer = Only("F | ui1 | random 250 255");
    const SensorDefinition real = Only("V | r8 | random 1.05 1.32");
    for (int i = 0; i < 200; ++i) {
        const StoredVariant a = tools::SensorValueAt(integer, i, random);
        EXPECT_EQ(a.bytes[0], VT_UI1);
        EXPECT_GE(a.bytes[8], 250);  // the byte itself: a ui1 can never exceed 255
        const double r = AsDouble(tools::SensorValueAt(real, i, random));
        EXPECT_GE(r, 1.05);
        EXPECT_LE(r, 1.32);
        EXPECT_DOUBLE_EQ(r, std::nearbyint(r * 1000) / 1000) << "generated reals keep 3 decimals";
    }

    const SensorDefinition toggle = Only("T | bool | toggle 2");
    EXPECT_EQ(LoadStoredVariant(tools::SensorValueAt(toggle, 1, random)).boolVal, VARIANT_FALSE);
    EXPECT_EQ(LoadStoredVariant(tools::SensorValueAt(toggle, 3, random)).boolVal, VARIANT_TRUE);

    const SensorDefinition now = Only("N | date | now");
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    double expected = 0;
    ::SystemTimeToVariantTime(&local, &expected);
    const VARIANT got = LoadStoredVariant(tools::SensorValueAt(now, 0, random));
    EXPECT_EQ(got.vt, VT_DATE);
    EXPECT_NEAR(got.date, expected, 5.0 / 86400) << "within 5 seconds of the local time";
}

}  // namespace
}  // namespace vorkast::test
