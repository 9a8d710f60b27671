// The value copy against a writer that acts between the reader's word loads, driven load by
// load, and against a real writer that changes a record as fast as it can.
#include "sensors/reader.h"
#include "sensors/stable_copy.h"
#include "sensors/table_writer.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

namespace vorkast {
namespace {

constexpr std::uint32_t kOld = 0x11111111;
constexpr std::uint32_t kNew = 0x22222222;

std::string Words(const StoredVariant& v) {
    std::uint32_t w[4];
    std::memcpy(w, v.bytes, sizeof w);
    std::ostringstream text;
    text << std::hex << std::setfill('0');
    for (int i = 0; i < 4; ++i) { text << (i ? " " : "") << std::setw(8) << w[i]; }
    return text.str();
}

StoredVariant AllWords(std::uint32_t word) {
    StoredVariant v;
    const std::uint32_t w[4] = {word, word, word, word};
    std::memcpy(v.bytes, w, sizeof w);
    return v;
}

// A record whose writer runs between the reader's loads: every load (busy word or value
// word) is counted from 1, and the action noted for load k runs just before load k.
class ScriptedRecord {
public:
    explicit ScriptedRecord(std::uint32_t value) { set_value(value); }

    // A whole write, as the writer does it: busy, all four words, clear. No load sees it busy.
    void write_whole(std::uint32_t value) {
        busy_ = kRecordBusy;
        set_value(value);
        busy_ = kRecordIdle;
    }
    void set_busy(std::int32_t busy) { busy_ = busy; }
    // Part of a write: value words [first, last) only.
    void set_words(int first, int last, std::uint32_t value) {
        for (int i = first; i < last; ++i) { words_[i] = value; }
    }
    void before_load(int k, std::function<void()> action) { actions_[k] = std::move(action); }
    // Runs `action` before every load from `k` on.
    void before_every_load(std::function<void()> action) { every_ = std::move(action); }

    std::int32_t busy() const {
        step();
        return busy_;
    }
    std::uint32_t value_word(int i) const {
        step();
        return words_[i];
    }
    int loads() const { return loads_; }

private:
    void set_value(std::uint32_t value) {
        for (auto& w : words_) { w = value; }
    }
    void step() const {
        ++loads_;
        auto& self = const_cast<ScriptedRecord&>(*this);
        if (auto it = self.actions_.find(loads_); it != self.actions_.end()) { it->second(); }
        if (self.every_) { self.every_(); }
    }

    std::int32_t busy_ = kRecordIdle;
    std::uint32_t words_[4] = {};
    std::map<int, std::function<void()>> actions_;
    std::function<void()> every_;
    mutable int loads_ = 0;
};

// Load 1 is the busy word before the copy, loads 2-5 the first copy's words, 6-9 the second
// copy's, load 10 the busy word after it.
struct InterleavingCase {
    const char* what;
    void (*script)(ScriptedRecord&);
    std::uint32_t expected;
};

const InterleavingCase kInterleavings[] = {
    {"no writer", [](ScriptedRecord&) {}, kOld},
    {"a whole write between the second and third word of the first copy",
     [](ScriptedRecord& r) { r.before_load(4, [&r] { r.write_whole(kNew); }); }, kNew},
    {"a whole write between the two copies",
     [](ScriptedRecord& r) { r.before_load(6, [&r] { r.write_whole(kNew); }); }, kNew},
    {"a whole write after both copies agreed, before the busy word after them",
     [](ScriptedRecord& r) { r.before_load(10, [&r] { r.write_whole(kNew); }); }, kOld},
    {"busy set during the second copy, the new value stored, cleared later",
     [](ScriptedRecord& r) {
         r.before_load(7, [&r] { r.set_busy(kRecordBusy); });
         r.before_load(9, [&r] { r.write_whole(kNew); r.set_busy(kRecordBusy); });
         r.before_load(14, [&r] { r.set_busy(kRecordIdle); });
     },
     kNew},
    {"busy at the first look, a whole value once it clears",
     [](ScriptedRecord& r) {
         r.set_busy(kRecordBusy);
         r.before_load(3, [&r] { r.write_whole(kNew); });
     },
     kNew},
    // Both copies see the same half-written value; only the busy word tells.
    {"busy set and half the new value stored before the first copy, the rest and the clear after the second",
     [](ScriptedRecord& r) {
         r.before_load(2, [&r] { r.set_busy(kRecordBusy); r.set_words(0, 2, kNew); });
         r.before_load(12, [&r] { r.set_words(2, 4, kNew); r.set_busy(kRecordIdle); });
     },
     kNew},
    // A reader that copies before the word is clear takes the half-written value twice and finds
    // the word clear after its second copy (load 9): only the wait before the first copy tells.
    {"half the new value stored under a set word at the first look, the rest and the clear before load 9",
     [](ScriptedRecord& r) {
         r.set_busy(kRecordBusy);
         r.set_words(0, 2, kNew);
         r.before_load(9, [&r] { r.set_words(2, 4, kNew); r.set_busy(kRecordIdle); });
     },
     kNew},
};

void PrintTo(const InterleavingCase& c, std::ostream* os) { *os << c.what; }

class CopyWholeValueInterleaving : public ::testing::TestWithParam<InterleavingCase> {};

TEST_P(CopyWholeValueInterleaving, NeverReportsAMixOfTwoValues) {
    const InterleavingCase& c = GetParam();
    ScriptedRecord record(kOld);
    c.script(record);
    StoredVariant got{};
    ASSERT_TRUE(CopyWholeValue(record, Deadline(std::chrono::seconds(1)), got)) << c.what;
    EXPECT_EQ(Words(got), Words(AllWords(c.expected))) << c.what << " (after " << record.loads() << " loads)";
}

INSTANTIATE_TEST_SUITE_P(Writer, CopyWholeValueInterleaving, ::testing::ValuesIn(kInterleavings),
                         [](const ::testing::TestParamInfo<InterleavingCase>& info) {
                             return test::CaseName(info.param.what);
                         });

TEST(CopyWholeValue, GivesUpWhenEveryCopyIsOverlappedByAWrite) {
    ScriptedRecord record(kOld);
    std::uint32_t next = 1;
    int loads_since_write = 0;
    // A whole write after every third load: no two copies in a row can agree.
    record.before_every_load([&] {
        if (++loads_since_write == 3) {
            loads_since_write = 0;
            record.write_whole(++next);
        }
    });
    StoredVariant got{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CopyWholeValue(record, Deadline(std::chrono::milliseconds(50)), got))
        << "accepted " << Words(got);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(1)) << "the deadline of 50 ms was not kept across retries";
}

TEST(CopyWholeValue, GivesUpOnAWordThatStaysSet) {
    ScriptedRecord record(kOld);
    record.set_busy(kRecordBusy);
    StoredVariant got{};
    EXPECT_FALSE(CopyWholeValue(record, Deadline(std::chrono::milliseconds(20)), got));
}

// ---- a real writer, as fast as it can ------------------------------------------------------

// Values whose stored words are all 0x11111111 or all 0x22222222 but for the type tag
// (VT_I8): any mix of the two shows in the 64-bit number.
StoredVariant PatternI8(std::uint32_t word) {
    StoredVariant v = AllWords(word);
    const VARTYPE type = VT_I8;
    std::memcpy(v.bytes, &type, sizeof type);
    return v;
}

TEST(ReadSensorValue, EndsWithAWholeValueOrGivesUpWhileTheWriterNeverStops) {
    SensorTableWriter table(1);
    table.set_name(0, L"Flipping");
    table.set_stored_value(0, PatternI8(kOld));
    table.set_count(1);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const StoredVariant values[2] = {PatternI8(kOld), PatternI8(kNew)};
        for (unsigned i = 0; !stop.load(std::memory_order_relaxed); ++i) { table.set_stored_value(0, values[i & 1]); }
    });

    int whole = 0, gave_up = 0;
    std::string wrong;
    std::chrono::steady_clock::duration longest{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end && wrong.empty()) {
        const auto start = std::chrono::steady_clock::now();
        scoped_variant value = ReadSensorValue(1);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        if (value->vt == VT_I8 && (value->llVal == 0x1111111111111111LL || value->llVal == 0x2222222222222222LL)) {
            ++whole;
        } else if (value->vt == VT_BSTR && std::wcscmp(value->bstrVal, L"Can not read shared data") == 0) {
            ++gave_up;
        } else {
            std::ostringstream text;
            text << "type " << value->vt << ", number 0x" << std::hex << value->llVal;
            wrong = text.str();
        }
    }
    stop = true;
    writer.join();
    std::printf("reads against a writer that never stops: %d whole values, %d gave up\n", whole, gave_up);
    EXPECT_EQ(wrong, "") << "a read gave neither a whole value nor \"Can not read shared data\"";
    EXPECT_LT(longest, std::chrono::milliseconds(1500))
        << "the longest read took " << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()
        << " ms; the bound is about 1 s";
}

}  // namespace
}  // namespace vorkast
