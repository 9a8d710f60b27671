// Readers against a writer that rewrites the table as fast as it can, in another process.
#include "tests/fuzz/stress_values.h"
#include "tests/support/child_process.h"
#include "tests/support/plugin_fixture.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vorkast::test::stress {
namespace {

constexpr int kReads = 10000;

std::string PlatformText(const StoredVariant& stored) {
    VARIANT source;
    ::VariantInit(&source);
    std::memcpy(&source, stored.bytes, sizeof stored.bytes);
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, &source, 0, VT_BSTR)) || text.bstrVal == nullptr) { return "<no text>"; }
    char narrow[128] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    ::VariantClear(&text);
    return narrow;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The write number that `answer` would be the text of, were it a value of `type`; 0 if none.
std::uint64_t CandidateOf(const std::string& answer, VARTYPE type) {
    const std::wstring wide = Wide(answer);
    switch (type) {
        case VT_I8: {
            char* end = nullptr;
            const long long v = std::strtoll(answer.c_str(), &end, 10);
            if (answer.empty() || *end != '\0' || v < 0) { return 0; }
            return static_cast<std::uint64_t>(v) >> 32;
        }
        case VT_CY: {
            CY cy{};
            if (FAILED(::VarCyFromStr(const_cast<OLECHAR*>(wide.c_str()), LOCALE_USER_DEFAULT, 0, &cy)) || cy.int64 < 0) {
                return 0;
            }
            return static_cast<std::uint64_t>(cy.int64) >> 32;
        }
        case VT_R8: {
            double d = 0;
            if (FAILED(::VarR8FromStr(const_cast<OLECHAR*>(wide.c_str()), LOCALE_USER_DEFAULT, 0, &d)) || d < 0 ||
                d > 1e15) {
                return 0;
            }
            return static_cast<std::uint64_t>(d) / 100000u;
        }
        default: {
            DATE d = 0;
            if (FAILED(::VarDateFromStr(const_cast<OLECHAR*>(wide.c_str()), LOCALE_USER_DEFAULT, 0, &d)) ||
                d < kStressEpoch) {
                return 0;
            }
            return static_cast<std::uint64_t>(std::llround((d - kStressEpoch) * 86400.0)) / 100u;
        }
    }
}

// The number of the write whose whole value `answer` is the text of, for sensor index `record`;
// 0 when it is the text of no value the writer stores there (a torn copy, or anything else).
std::uint32_t WriteNumberOf(const std::string& answer, std::size_t record) {
    for (VARTYPE type : kStressTypes) {
        const std::uint64_t w = CandidateOf(answer, type);
        if (w == 0 || w >= 0x80000000u || w % kStressRecords != record || StressType(static_cast<std::uint32_t>(w)) != type) {
            continue;
        }
        if (PlatformText(StressValue(static_cast<std::uint32_t>(w))) == answer) { return static_cast<std::uint32_t>(w); }
    }
    return 0;
}

TEST(ConcurrentWriter, EveryReadIsOneWholeValueThatTheWriterWrote) {
    // The decoding must hold for every kind of value written, or the check below proves nothing.
    for (std::uint32_t w : {1u, 33u, 65u, 97u, 12345u, 99999999u}) {
        const std::string text = PlatformText(StressValue(w));
        EXPECT_EQ(WriteNumberOf(text, w % kStressRecords), w) << "write " << w << " reads as \"" << text << "\"";
    }

    ChildProcess writer("stress_writer.exe", {});
    const std::string ready = writer.NextLine(30000);
    ASSERT_EQ(ready, "ready") << "first line of the writer";

    const host::PluginInstance instance(Interface(), nullptr);
    const host::ValueFn by_number = Interface().require_value_function("ValueBySensor");
    const host::ValueFn by_name = Interface().require_value_function("ValueByName");
    std::mt19937 random(20261210);
    std::set<std::uint32_t> seen;
    std::uint32_t newest = 0;
    std::vector<std::string> wrong;
    std::size_t wrong_count = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i) {
        const std::size_t record = random() % kStressRecords;
        const bool named = i % 10 == 9;  // one read in ten goes through the name search
        const std::string parameter = named ? "S" + std::to_string(record + 1) : std::to_string(record + 1);
        const std::string answer = host::TextOrNull((named ? by_name : by_number)(instance.handle(), parameter.c_str()));
        const std::uint32_t w = WriteNumberOf(answer, record);
        if (w == 0) {
            if (++wrong_count <= 20) {
                wrong.push_back(std::string(named ? "ValueByName(\"" : "ValueBySensor(\"") + parameter + "\") answered \"" +
                                answer + "\"");
            }
            continue;
        }
        seen.insert(w);
        newest = std::max(newest, w);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    writer.CloseStdin();
    const std::string last = writer.NextLine(30000);
    DWORD exit_code = 0;
    ASSERT_TRUE(writer.Wait(30000, &exit_code)) << "the writer did not end in time";
    EXPECT_EQ(exit_code, 0u) << "the writer's exit code";
    ASSERT_EQ(last.rfind("wrote ", 0), 0u) << "last line of the writer: \"" << last << "\"";
    const unsigned long written = std::strtoul(last.c_str() + 6, nullptr, 10);

    std::printf("%d reads in %.1f s while the writer made %lu writes; %zu distinct values read\n", kReads, seconds,
                written, seen.size());
    for (const std::string& text : wrong) { ADD_FAILURE() << text << ": no whole value the writer wrote there"; }
    EXPECT_EQ(wrong_count, 0u) << "reads that were no whole written value (the first 20 are listed)";
    EXPECT_LE(newest, written) << "a value newer than the writer's last write";
    // The values must have kept changing under the readers, or there was no race to survive.
    EXPECT_GT(seen.size(), static_cast<std::size_t>(kReads / 10)) << "distinct values among " << kReads << " reads";
}

}  // namespace
}  // namespace vorkast::test::stress
