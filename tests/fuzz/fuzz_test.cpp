// The randomized table run, short enough for every test run. Longer runs: table_fuzz SEED CASES.
#include "tests/fuzz/table_fuzz.h"

#include "sensors/table_writer.h"
#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace vorkast::test::fuzz {
namespace {

TEST(TableFuzz, EveryAnswerIsTheModelsForRandomTables) {
    Options options;
    options.seed = 20261210;
    options.cases = 3000;
    options.dialog_every = 40;
    const Result result = RunCases(options);

    std::printf("%llu cases, %llu value queries, %llu dialog fills; answers:\n",
                static_cast<unsigned long long>(result.cases), static_cast<unsigned long long>(result.value_queries),
                static_cast<unsigned long long>(result.dialogs));
    for (const auto& [kind, n] : result.answers) {
        std::printf("  %6llu  %s\n", static_cast<unsigned long long>(n), kind.c_str());
    }
    for (const std::string& text : result.failure_texts) { ADD_FAILURE() << text; }
    EXPECT_EQ(result.failures, 0u) << "answers that differ from the model (the first "
                                   << result.failure_texts.size() << " are listed above)";
    EXPECT_EQ(result.cases, options.cases) << "cases run";
    // The run must reach every kind of answer, or the tables are not hostile enough.
    for (const char* kind : {"value text", "Unsupported sensor value type", "Invalid sensor number",
                             "Invalid Vorkast version detected", "Vorkast is not running or unsupported version",
                             "An unexpected error has happened", "An unexpected error was returned"}) {
        EXPECT_GT(result.answers.count(kind) ? result.answers.at(kind) : 0, 0u) << "answers \"" << kind << "\"";
    }
}

// The case the randomized run first found: a DECIMAL that is no number (scale above 28, or sign
// bits besides the sign) made the platform's conversion to text write past its buffer and crash
// the process. It is refused like any value without text; valid DECIMALs keep their text.
TEST(TableFuzz, MalformedDecimalIsRefusedNotFormatted) {
    struct Case {
        BYTE scale;
        BYTE sign;
        const char* by_number;  // expected answers
        const char* by_name;
    } const cases[] = {
        {0, 0, "1", "1"},
        {28, DECIMAL_NEG, "-0.0000000000000000000000000001", "-0.0000000000000000000000000001"},
        {29, 0, "An unexpected error has happened", "An unexpected error was returned"},
        {100, 0, "An unexpected error has happened", "An unexpected error was returned"},
        {255, 0, "An unexpected error has happened", "An unexpected error was returned"},
        {0, 0x01, "An unexpected error has happened", "An unexpected error was returned"},
        {5, 0xFF, "An unexpected error has happened", "An unexpected error was returned"},
    };
    const host::PluginInstance instance(Interface(), nullptr);
    const host::ValueFn by_number = Interface().require_value_function("ValueBySensor");
    const host::ValueFn by_name = Interface().require_value_function("ValueByName");
    for (const Case& c : cases) {
        SensorTableWriter table(1);
        table.set_name(0, L"D");
        DECIMAL d{};
        d.scale = c.scale;
        d.sign = c.sign;
        d.Lo64 = 1;
        StoredVariant stored;
        std::memcpy(stored.bytes, &d, sizeof stored.bytes);
        const VARTYPE type = VT_DECIMAL;
        std::memcpy(stored.bytes, &type, sizeof type);
        table.set_stored_value(0, stored);
        table.set_count(1);
        EXPECT_STREQ(by_number(instance.handle(), "1"), c.by_number) << "scale " << int{c.scale} << ", sign 0x"
                                                                     << std::hex << int{c.sign};
        EXPECT_STREQ(by_name(instance.handle(), "D"), c.by_name) << "scale " << int{c.scale} << ", sign 0x"
                                                                 << std::hex << int{c.sign};
    }
}

}  // namespace
}  // namespace vorkast::test::fuzz
