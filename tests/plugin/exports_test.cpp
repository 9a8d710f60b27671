// The host's discovery, description and lifecycle entry points, called through the same
// LoadLibrary/GetProcAddress road that the host takes.
#include "tests/support/plugin_fixture.h"
#include "tests/support/process_resources.h"
#include "tests/support/stdcall_probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vorkast::test {
namespace {

struct ExportCase {
    const char* plain;
    const char* decorated;
    int argument_bytes;
};

// Every entry point of the interface, with its stdcall decoration.
constexpr ExportCase kExports[] = {
    {"dlltype", "_dlltype@0", 0},
    {"init", "_init@0", 0},
    {"getparam", "_getparam@4", 4},
    {"getinfo", "_getinfo@4", 4},
    {"dllstartup", "_dllstartup@8", 8},
    {"dllshutdown", "_dllshutdown@4", 4},
    {"configure", "_configure@0", 0},
    {"ValueBySensor", "_ValueBySensor@8", 8},
    {"ValueByName", "_ValueByName@8", 8},
};

TEST(Exports, BothNamesResolveToTheSameFunction) {
    for (const auto& e : kExports) {
        const FARPROC plain = Plugin().find(e.plain);
        const FARPROC decorated = Plugin().find(e.decorated);
        EXPECT_NE(plain, nullptr) << e.plain << " is not exported";
        EXPECT_NE(decorated, nullptr) << e.decorated << " is not exported";
        EXPECT_EQ(plain, decorated) << e.plain << " and " << e.decorated << " differ";
    }
}

TEST(Exports, EachCallRemovesExactlyItsOwnArguments) {
    if (!StdcallProbeAvailable()) { GTEST_SKIP() << "this build has a single calling convention"; }
    static const char kName[] = "ValueBySensor";
    const auto name_arg = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(kName));

    void* instance = Interface().dllstartup(nullptr, 0);
    ASSERT_NE(instance, nullptr);
    for (const auto& e : kExports) {
        const std::string name = e.plain;
        if (name == "configure") { continue; }  // modal: probed by the dialog tests
        const void* fn = reinterpret_cast<const void*>(Plugin().find(e.decorated));
        ASSERT_NE(fn, nullptr) << e.decorated;
        std::uint32_t args[2] = {0, 0};
        if (name.rfind("ValueBy", 0) == 0) {
            args[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(instance));
            args[1] = name_arg;
        }
        if (name == "getparam") { args[0] = name_arg; }
        if (name == "getinfo") { args[0] = 2; }
        if (name == "dllshutdown") { args[0] = 0; }  // null instance: accepted, does nothing
        const ProbedCall call = CallStdcall(fn, args, e.argument_bytes / 4);
        EXPECT_EQ(call.stack_delta, 0) << e.decorated << " left the stack off by " << call.stack_delta;
        if (name == "dllstartup") {
            ASSERT_NE(call.result, 0u);
            std::uint32_t started = static_cast<std::uint32_t>(call.result);
            const void* shutdown = reinterpret_cast<const void*>(Plugin().find("_dllshutdown@4"));
            EXPECT_EQ(CallStdcall(shutdown, &started, 1).stack_delta, 0);
        }
    }
    Interface().dllshutdown(instance);
}

TEST(Exports, DllTypeAndInit) {
    EXPECT_EQ(Interface().dlltype(), 1);
    EXPECT_STREQ(Interface().init(), "ValueBySensor|ValueByName");
}

TEST(Exports, GetParamDescribesEachFunctionIgnoringAsciiCase) {
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"ValueBySensor", "sensor number|"},
        {"valuebysensor", "sensor number|"},
        {"VALUEBYSENSOR", "sensor number|"},
        {"ValueByName", "sensor name|"},
        {"ValueByname", "sensor name|"},
        {"VALUEBYNAME", "sensor name|"},
        {"", "|"},
        {"ValueBySensor ", "|"},
        {"ValueBy", "|"},
        {"configure", "|"},
        {"ValueBySens\xD6r", "|"},  // only ASCII letters fold
        {nullptr, "|"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(Interface().getparam(c.name), c.expected)
            << "getparam(" << (c.name ? c.name : "NULL") << ")";
    }
}

TEST(Exports, GetInfoTexts) {
    const struct {
        DWORD number;
        const char* expected;
    } cases[] = {
        {0, "Vorkast Plugin - For Deskovia Version 2 Interface % Vorkast Build 512"},
        {1, "_qzn_"},
        {2, "1.0a"},
        {3, "22.07.05"},
        {4, "22.07.05"},
        {5, ""},
        {6, ""},
        {7, ""},
        {0x7FFFFFFF, ""},
        {0x80000000, ""},
        {0xFFFFFFFF, ""},  // -1
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(Interface().getinfo(c.number), c.expected) << "getinfo(" << c.number << ")";
    }
}

TEST(Exports, TextsAreConstantsThatOutliveTheCall) {
    // The host keeps the pointers it was given: the texts behind them must still read the same
    // after every other kind of call, and asking again must give the same storage.
    const struct {
        const char* what;
        const char* text;
        const char* expected;
    } kept[] = {
        {"init()", Interface().init(), "ValueBySensor|ValueByName"},
        {"getinfo(0)", Interface().getinfo(0), "Vorkast Plugin - For Deskovia Version 2 Interface % Vorkast Build 512"},
        {"getinfo(2)", Interface().getinfo(2), "1.0a"},
        {"getinfo(9)", Interface().getinfo(9), ""},
        {"getparam(ValueBySensor)", Interface().getparam("ValueBySensor"), "sensor number|"},
        {"getparam(ValueByName)", Interface().getparam("valuebyname"), "sensor name|"},
        {"getparam(other)", Interface().getparam("other"), "|"},
    };
    {
        const host::PluginInstance instance(Interface(), nullptr);
        instance.call(Interface().value_function("ValueBySensor"), "1");
        instance.call(Interface().value_function("ValueByName"), "a name");
        Interface().getparam("x");
        Interface().getinfo(1);
        Interface().init();
    }
    for (const auto& k : kept) {
        EXPECT_STREQ(k.text, k.expected) << k.what << " after other calls";
    }
    EXPECT_EQ(Interface().init(), kept[0].text) << "init()";
    EXPECT_EQ(Interface().getinfo(0), kept[1].text) << "getinfo(0)";
    EXPECT_EQ(Interface().getparam("VALUEBYSENSOR"), kept[4].text) << "getparam(VALUEBYSENSOR)";
}

TEST(Instances, EachStartupMakesADistinctInstanceThatShutsDownCleanly) {
    void* a = Interface().dllstartup(reinterpret_cast<HWND>(0x1234), 0);
    void* b = Interface().dllstartup(nullptr, 0xDEADBEEF);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(Interface().dllshutdown(a), 0);
    EXPECT_EQ(Interface().dllshutdown(b), 0);
}

TEST(Instances, ShutdownOfNullReturnsZero) {
    EXPECT_EQ(Interface().dllshutdown(nullptr), 0);
}

TEST(Instances, ManyStartupsAndShutdownsDoNotGrowTheHeap) {
    for (int i = 0; i < 100; ++i) { Interface().dllshutdown(Interface().dllstartup(nullptr, 0)); }
    const std::size_t before = HeapBusyBytes();
    for (int i = 0; i < 10000; ++i) { Interface().dllshutdown(Interface().dllstartup(nullptr, 0)); }
    const std::size_t after = HeapBusyBytes();
    EXPECT_LE(after, before + 4096) << "heap in use grew from " << before << " to " << after << " bytes";
}

}  // namespace
}  // namespace vorkast::test
