// A whole copy of a record's value from a table that another process writes while we read.
//
// The writer sets the record's busy word to 1, changes the 16 value bytes and clears the word.
// A reader that merely waits for a clear word, copies and looks at the word again can still be
// fooled: a whole write that begins and ends while the reader is between its first and last
// word load leaves the word clear at both looks and the copy a mix of two values. So a copy is
// accepted only when two copies taken one after the other are equal and the word was clear
// before the first and after the second. That leaves only a writer that stores the same mix
// twice in step with the reader's loads, which a busy word alone cannot rule out.
//
// The word loads go through a `Words` object (busy(), value_word(i) for i in 0..3), so that
// tests can put a writer between any two loads; SharedRecordWords reads the shared view.
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace vorkast {

// A record's busy word, fetched anew from the shared view on every call.
inline std::int32_t LoadBusyWord(const SensorRecord* record) noexcept {
    return *reinterpret_cast<const volatile std::int32_t*>(&record->busy);
}

// The loads of one record in the shared view: every call fetches the word anew.
class SharedRecordWords {
public:
    explicit SharedRecordWords(const SensorRecord* record) noexcept : record_(record) {}
    std::int32_t busy() const noexcept { return LoadBusyWord(record_); }
    std::uint32_t value_word(int i) const noexcept {
        return reinterpret_cast<const volatile std::uint32_t*>(&record_->value)[i];
    }

private:
    const SensorRecord* record_;
};

// The clock of every wait: the performance counter, which never goes back and does not follow
// changes of the system time. (The C++ runtime's steady_clock is no such clock everywhere: the
// -win32 thread-model runtime reads the wall clock for it, so a clock set back during a wait
// would stretch it.)
struct MonotonicClock {
    using rep = std::int64_t;
    using period = std::nano;
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<MonotonicClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        LARGE_INTEGER count;
        LARGE_INTEGER frequency;
        ::QueryPerformanceCounter(&count);
        ::QueryPerformanceFrequency(&frequency);  // fixed at boot
        const std::int64_t whole_seconds = count.QuadPart / frequency.QuadPart;
        const std::int64_t rest = count.QuadPart % frequency.QuadPart;  // below the frequency
        return time_point(duration(whole_seconds * 1'000'000'000 + rest * 1'000'000'000 / frequency.QuadPart));
    }
};

class Deadline {
public:
    using clock = MonotonicClock;
    explicit Deadline(std::chrono::nanoseconds bound) noexcept : end_(clock::now() + bound) {}
    bool passed(clock::time_point now = clock::now()) const noexcept { return now >= end_; }

private:
    clock::time_point end_;
};

// How long a wait spins on the busy word (with a pause between looks) before it gives the CPU
// away between looks: long enough for any writer that is running, short enough that a writer
// that stalls costs the host's thread little.
inline constexpr std::chrono::microseconds kBusySpin{50};

// Waits until the busy word is clear. The first look is immediate and every look fetches the
// word anew, so a cleared word is seen at once; the deadline is looked at every 64 spins and on
// every look once the thread yields. False when the word is still set at the deadline.
template <typename Words>
bool WaitUntilIdle(const Words& words, const Deadline& deadline) {
    if (words.busy() != kRecordBusy) { return true; }
    const auto spin_end = Deadline::clock::now() + kBusySpin;
    for (unsigned looks = 1;; ++looks) {
        YieldProcessor();  // a macro on some targets
        if (words.busy() != kRecordBusy) { return true; }
        if ((looks & 63) == 0) {
            const auto now = Deadline::clock::now();
            if (deadline.passed(now)) { return false; }
            if (now >= spin_end) { break; }
        }
    }
    for (;;) {
        ::SwitchToThread();
        if (words.busy() != kRecordBusy) { return true; }
        if (deadline.passed()) { return false; }
    }
}

// The 16 value bytes, each word loaded once, in order.
template <typename Words>
StoredVariant LoadValueWords(const Words& words) {
    std::uint32_t w[4];
    for (int i = 0; i < 4; ++i) { w[i] = words.value_word(i); }
    StoredVariant stored;
    std::memcpy(stored.bytes, w, sizeof stored.bytes);
    return stored;
}

// A copy of the value that no write overlapped (see above), or false when the record stays
// busy, or keeps changing under the copy, until the deadline. The deadline holds across all
// retries.
template <typename Words>
bool CopyWholeValue(const Words& words, const Deadline& deadline, StoredVariant& out) {
    for (;;) {
        if (!WaitUntilIdle(words, deadline)) { return false; }
        std::atomic_thread_fence(std::memory_order_acquire);
        const StoredVariant first = LoadValueWords(words);
        const StoredVariant second = LoadValueWords(words);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (words.busy() != kRecordBusy && std::memcmp(first.bytes, second.bytes, sizeof first.bytes) == 0) {
            out = second;
            return true;
        }
        if (deadline.passed()) { return false; }
    }
}

}  // namespace vorkast
