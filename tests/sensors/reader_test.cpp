// The table layout as written, and the reader's own answers before they become text.
#include "sensors/reader.h"
#include "sensors/table_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

namespace vorkast {
namespace {

TEST(TableLayout, WriterPlacesFieldsAtTheirByteOffsets) {
    SensorTableWriter table(3);
    table.set_name(2, L"Fan");
    table.set_value(2, MakeI4(0x01020304));
    table.set_count(3);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&table.header());
    std::uint32_t version;
    std::uint16_t count;
    std::memcpy(&version, bytes + 0, 4);
    std::memcpy(&count, bytes + 4, 2);
    EXPECT_EQ(version, 1u);
    EXPECT_EQ(count, 3u);
    const unsigned char* record = bytes + 8 + 696 * 2;
    EXPECT_EQ(std::memcmp(record, L"Fan", 8), 0) << "name (with terminator) at record offset 0";
    std::int32_t busy;
    std::uint16_t type;
    std::int32_t data;
    std::memcpy(&busy, record + 644, 4);
    std::memcpy(&type, record + 656, 2);
    std::memcpy(&data, record + 656 + 8, 4);
    EXPECT_EQ(busy, 0) << "busy word at 644, cleared after the update";
    EXPECT_EQ(type, VT_I4) << "variant type tag at 656";
    EXPECT_EQ(data, 0x01020304) << "variant data at 664";
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(record + 656) % 8, 0u) << "value on an 8-byte boundary";
}

TEST(FindSensorByName, YieldsNumbersBeyondTheReadableLimit) {
    SensorTableWriter table(200);
    for (int i = 0; i < 200; ++i) { table.set_name(i, i == 129 ? L"Deep" : L"S" + std::to_wstring(i + 1)); }
    table.set_count(200);
    EXPECT_EQ(FindSensorByName("Deep"), 130);
    EXPECT_EQ(FindSensorByName("S200"), 200);
    EXPECT_EQ(FindSensorByName("S201"), 0);
    // The reader refuses what the search can name.
    scoped_variant value = ReadSensorValue(130);
    ASSERT_EQ(value->vt, VT_BSTR);
    EXPECT_STREQ(value->bstrVal, L"Invalid sensor number");
}

TEST(FindSensorByName, OnlyTheCurrentRecordsBytesTakePart) {
    SensorTableWriter table(2);
    table.set_name(0, L"CPU Temperature");
    table.set_name(1, L"CPU");
    table.set_count(2);
    EXPECT_EQ(FindSensorByName("CPU"), 2);
    EXPECT_EQ(FindSensorByName("CPU Temperature"), 1);
}

TEST(FindSensorByName, UnterminatedNameEndsAtItsField) {
    SensorTableWriter table(2);
    std::wstring full(kSensorNameUnits, L'n');  // no terminator in the whole field
    table.set_name_units(0, full.data(), full.size());
    table.set_name(1, L"next");
    table.set_count(2);
    EXPECT_EQ(FindSensorByName(std::string(255, 'n').c_str()), 1) << "compared as its first 255";
    EXPECT_EQ(FindSensorByName("next"), 2);
}

// Names that share long prefixes with the query and each other, differing at or next to every
// multiple of 8 units (where a comparison of several units at once could go wrong) and at the
// 255-unit limit.
TEST(FindSensorByName, NamesSharingLongPrefixesDifferWhereTheyDiffer) {
    const std::wstring p254(254, L'p');
    const std::wstring names[] = {
        L"Sensor 10",               // 1: "Sensor 1" and a unit more, the 9th
        L"Sensor 1",                // 2: exactly 8 units
        L"Sensor 100000000",        // 3: 16 units
        L"Sensor 10000000",         // 4: 15 units
        L"Sensor 100000000000000\u0130",  // 5: 23 units, the last U+0130 (low byte '0')
        L"Sensor 1000000000000000", // 6: 23 units
        p254 + L"q" + L"tail",      // 7: compared as its first 255 units
        p254 + L"r",                // 8
    };
    SensorTableWriter table(std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) { table.set_name(i, names[i]); }
    table.set_count(static_cast<std::uint16_t>(std::size(names)));
    const std::string q254(254, 'p');
    const struct {
        std::string query;
        std::uint16_t expected;
    } cases[] = {
        {"Sensor 1", 2},         {"Sensor 10", 1},         {"Sensor 100000000", 3},
        {"Sensor 10000000", 4},  {"Sensor 1000000000", 0}, {"Sensor 1000000000000000", 6},
        {"Sensor 100000000000000\x31", 0},
        {q254 + "q", 7},         {q254 + "r", 8},          {q254 + "s", 0},
        {q254 + "qt", 0},        {q254, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindSensorByName(c.query.c_str()), c.expected) << "query of " << c.query.size() << " bytes: \""
                                                                  << c.query << "\"";
    }
}

TEST(ReadSensorValue, ReturnsTheStoredVariantItself) {
    SensorTableWriter table(1);
    table.set_name(0, L"Volts");
    table.set_value(0, MakeR8(12.25));
    table.set_count(1);
    scoped_variant value = ReadSensorValue(1);
    EXPECT_EQ(value->vt, VT_R8);
    EXPECT_EQ(value->dblVal, 12.25);
}

}  // namespace
}  // namespace vorkast
