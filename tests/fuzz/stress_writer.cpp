// A writer that races the readers: publishes kStressRecords sensors "S1".."S32", prints "ready",
// then rewrites their values under the busy protocol as fast as it can (stress_values.h) until
// its standard input ends, and prints "wrote N" with the number of its last write.
//
// Each update keeps to the protocol but leaves the record half-written for a moment while its
// busy word is set: the data words first, a short pause, then the type word. A reader that
// copies without heeding the busy word, or that misses an update begun during its copy, then
// gets a type and data of two different writes, which the readers' check recognises.
#include "sensors/table_writer.h"
#include "tests/fuzz/stress_values.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

void WriteUnderBusyWord(vorkast::SensorRecord& record, const vorkast::StoredVariant& value) {
    std::uint32_t words[4];
    std::memcpy(words, value.bytes, sizeof words);
    auto* busy = reinterpret_cast<volatile LONG*>(&record.busy);
    auto* target = reinterpret_cast<volatile std::uint32_t*>(&record.value);
    ::InterlockedExchange(busy, vorkast::kRecordBusy);
    target[3] = words[3];
    target[2] = words[2];
    for (int i = 0; i < 16; ++i) { YieldProcessor(); }  // the record stays half-written a while
    target[1] = words[1];
    target[0] = words[0];
    ::InterlockedExchange(busy, vorkast::kRecordIdle);  // a full barrier: the stores are visible first
}

}  // namespace

int main() {
    using namespace vorkast;
    using namespace vorkast::test::stress;
    try {
        SensorTableWriter table(kStressRecords);
        for (std::size_t i = 0; i < kStressRecords; ++i) { table.set_name(i, L"S" + std::to_wstring(i + 1)); }
        std::uint32_t w = 1;
        for (; w <= kStressRecords; ++w) { table.set_stored_value(w % kStressRecords, StressValue(w)); }
        table.set_count(static_cast<std::uint16_t>(kStressRecords));

        std::atomic<bool> stop{false};
        std::thread input([&stop] {
            char line[64];
            while (std::fgets(line, sizeof line, stdin) != nullptr) {}
            stop = true;
        });
        std::printf("ready\n");
        std::fflush(stdout);
        while (!stop.load(std::memory_order_relaxed)) {
            for (int i = 0; i < 1024 && w < 0x7FFFFFFFu; ++i, ++w) {
                WriteUnderBusyWord(table.record(w % kStressRecords), StressValue(w));
            }
        }
        input.join();
        std::printf("wrote %lu\n", static_cast<unsigned long>(w - 1));
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& e) {
        std::printf("stress_writer: %s\n", e.what());
        return 1;
    }
}
