// The table is released where it was taken, view before handle, on every path of a value
// request: the plug-in's own calls of OpenFileMappingA, MapViewOfFile, UnmapViewOfFile and
// CloseHandle are noted in order through its import table.
#include "sensors/table_writer.h"
#include "tests/support/case_name.h"
#include "tests/support/messages.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/release_log.h"
#include "tests/support/unmappable_section.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace vorkast::test {
namespace {

constexpr char kOneCycle[] = "open H1, map H1 V1, unmap V1, close H1";
constexpr char kTwoCycles[] = "open H1, map H1 V1, unmap V1, close H1, open H2, map H2 V2, unmap V2, close H2";

enum class Table { none, named, version_two };

struct OrderCase {
    const char* what;
    Table table;
    const char* function;
    const char* parameter;
    const char* answer;
    const char* calls;
};

// Sensors "A" (an integer), "B" (a DECIMAL whose scale is no number: its read raises and
// is caught) and "C" (a string pointer: refused).
std::unique_ptr<SensorTableWriter> Publish(Table kind) {
    if (kind == Table::none) { return nullptr; }
    auto table = std::make_unique<SensorTableWriter>(3);
    table->set_name(0, L"A");
    table->set_value(0, MakeI4(5));
    table->set_name(1, L"B");
    StoredVariant bad_decimal{};
    bad_decimal.bytes[0] = VT_DECIMAL;
    bad_decimal.bytes[2] = 200;  // scale
    table->set_stored_value(1, bad_decimal);
    table->set_name(2, L"C");
    StoredVariant pointer{};
    pointer.bytes[0] = VT_BSTR;
    table->set_stored_value(2, pointer);
    table->set_count(3);
    if (kind == Table::version_two) { table->set_version(2); }
    return table;
}

const OrderCase kOrderCases[] = {
    {"a value", Table::named, "ValueBySensor", "1", "5", kOneCycle},
    {"a value whose read raises", Table::named, "ValueBySensor", "2", kByNumberFailure, kOneCycle},
    {"a refused pointer type", Table::named, "ValueBySensor", "3", kUnsupported, kOneCycle},
    {"a number beyond the count", Table::named, "ValueBySensor", "4", kInvalidNumber, kOneCycle},
    {"another version", Table::version_two, "ValueBySensor", "1", kWrongVersion, kOneCycle},
    {"no table", Table::none, "ValueBySensor", "1", kNotRunning, "open none"},
    {"a name found, then its value", Table::named, "ValueByName", "A", "5", kTwoCycles},
    {"a name whose read raises", Table::named, "ValueByName", "B", kByNameFailure, kTwoCycles},
    {"a name not found", Table::named, "ValueByName", "Z", kInvalidNumber, kOneCycle},
    {"a name search in another version", Table::version_two, "ValueByName", "A", kInvalidNumber, kOneCycle},
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.what; }

class ReleaseOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ReleaseOrder, ViewIsUnmappedBeforeTheHandleIsClosed) {
    const OrderCase& c = GetParam();
    const auto table = Publish(c.table);
    const host::PluginInstance instance(Interface(), nullptr);
    const host::ValueFn function = Interface().value_function(c.function);
    ReleaseLog log(Plugin().module());
    ASSERT_TRUE(log.active()) << "the plug-in's imports of the four section functions were not found";
    const std::string answer = instance.call(function, c.parameter);
    const std::string calls = log.text();
    EXPECT_EQ(answer, c.answer) << c.function << "(\"" << c.parameter << "\")";
    EXPECT_EQ(calls, c.calls) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Paths, ReleaseOrder, ::testing::ValuesIn(kOrderCases),
                         [](const ::testing::TestParamInfo<OrderCase>& info) { return CaseName(info.param.what); });

TEST(ReleaseOrder, ATableThatCannotBeMappedIsClosedAtOnce) {
    const UnmappableSection section;
    if (!section.ok()) { GTEST_SKIP() << section.description(); }
    const host::PluginInstance instance(Interface(), nullptr);
    ReleaseLog log(Plugin().module());
    ASSERT_TRUE(log.active());
    EXPECT_EQ(instance.call(Interface().value_function("ValueBySensor"), "1"), kCannotRead);
    EXPECT_EQ(log.text(), "open H1, map H1 none, close H1");
    log.clear();
    EXPECT_EQ(instance.call(Interface().value_function("ValueByName"), "A"), kInvalidNumber);
    EXPECT_EQ(log.text(), "open H1, map H1 none, close H1");
}

}  // namespace
}  // namespace vorkast::test
