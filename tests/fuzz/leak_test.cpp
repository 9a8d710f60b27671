// Resource use over many calls: handles, heap and mapped views of the process stay where they were,
// whatever the calls answered.
#include "sensors/table_writer.h"
#include "tests/dialog/dialog_driver.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/process_resources.h"
#include "tests/support/unmappable_section.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace vorkast::test {
namespace {

constexpr std::size_t kRecords = 200;

// Sensor i + 1 is named "Sensor i+1"; its value runs through by-value types, a pointer type, a
// value the platform cannot turn into text and a malformed DECIMAL, so that a run of calls takes
// every road through the reader and the text conversion.
StoredVariant ValueOf(std::size_t i) {
    VARIANT v;
    ::VariantInit(&v);
    switch (i % 10) {
        case 0: v = MakeI4(static_cast<LONG>(i)); break;
        case 1: v = MakeR8(i + 0.25); break;
        case 2: v = MakeBool(i % 4 == 2); break;
        case 3: v.vt = VT_DATE; v.date = 45000.5 + static_cast<double>(i); break;
        case 4: v.vt = VT_CY; v.cyVal.int64 = static_cast<LONGLONG>(i) * 12345; break;
        case 5: v.vt = VT_DECIMAL; ::VarDecFromR8(i / 7.0, &v.decVal); v.vt = VT_DECIMAL; break;
        case 6: v.vt = VT_NULL; break;  // no text: the value functions' failure message
        case 7: v.vt = VT_BSTR; v.bstrVal = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0x1000)); break;  // never followed
        case 8: v.vt = VT_DECIMAL; v.decVal.scale = 200; v.vt = VT_DECIMAL; break;  // malformed
        default: v.vt = VT_I8; v.llVal = -static_cast<LONGLONG>(i); break;
    }
    return StoreVariant(v);
}

std::unique_ptr<SensorTableWriter> Publish() {
    auto table = std::make_unique<SensorTableWriter>(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i) {
        table->set_name(i, L"Sensor " + std::to_wstring(i + 1));
        table->set_stored_value(i, ValueOf(i));
    }
    table->set_count(static_cast<std::uint16_t>(kRecords));
    return table;
}

struct Usage {
    std::size_t handles;
    std::size_t heap;
    std::size_t views;
};

Usage Measure() { return {OpenHandleCount(), HeapBusyBytes(), MappedViewCount()}; }

class MixedCalls {
public:
    MixedCalls()
        : instance_(Interface(), nullptr),
          by_number_(Interface().require_value_function("ValueBySensor")),
          by_name_(Interface().require_value_function("ValueByName")) {}

    // `n` calls of every kind in turn, against whatever table is published now. Nothing is
    // kept from the answers but their count, so the test itself allocates nothing that lasts.
    void run(int n) {
        static const char* const kNumbers[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "127",
                                               "0", "128", "201", "abc", "", "65537"};
        static const char* const kNames[] = {"Sensor 1", "Sensor 7", "Sensor 8", "Sensor 9", "Sensor 150",
                                             "sensor 1", "Sensor 1 ", "", "No such sensor"};
        for (int i = 0; i < n; ++i, ++step_) {
            const char* answer = step_ % 3 == 2 ? by_name_(instance_.handle(), kNames[step_ % std::size(kNames)])
                                                : by_number_(instance_.handle(), kNumbers[step_ % std::size(kNumbers)]);
            if (answer == nullptr) { ++null_answers_; }
            ++calls_;
        }
    }
    // One call of a record whose busy word is never cleared: the read gives up after its bound.
    void stuck(SensorTableWriter& table) {
        table.set_busy(0, kRecordBusy);
        if (by_number_(instance_.handle(), "1") == nullptr) { ++null_answers_; }
        ++calls_;
        table.set_busy(0, kRecordIdle);
    }
    long calls() const { return calls_; }
    long null_answers() const { return null_answers_; }

private:
    host::PluginInstance instance_;
    host::ValueFn by_number_;
    host::ValueFn by_name_;
    long step_ = 0;
    long calls_ = 0;
    long null_answers_ = 0;
};

// How a dialog fill ends.
enum class Paint {
    as_it_comes,  // closed as soon as it is visible, painted or not
    everything,   // painted first, every child with its frame (the list box's scroll bar)
};

// The dialog filled from the table and closed again.
void FillDialog(Paint paint) {
    ConfigureCall call;
    const HWND dialog = call.WaitForVisibleDialog(L"Sensors");
    ASSERT_NE(dialog, nullptr) << "no visible \"Sensors\" dialog";
    if (paint == Paint::everything) {
        // Sent to the dialog's thread: returns once it has painted.
        ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(call.WaitFinished()) << "configure did not return after IDOK";
}

// One round: calls against a good table, against a table of another version, with no table,
// with a table that cannot be mapped, and (when asked) a record that stays busy and a dialog fill.
void Round(MixedCalls& calls, std::unique_ptr<SensorTableWriter>& table, int good_calls, int other_calls, bool stuck,
           bool dialog, Paint paint = Paint::as_it_comes) {
    calls.run(good_calls);
    table->set_version(2);
    calls.run(other_calls);
    table->set_version(kSensorTableVersion);
    if (stuck) { calls.stuck(*table); }
    if (dialog) { FillDialog(paint); }
    table.reset();
    calls.run(other_calls);  // no table
    {
        const UnmappableSection unmappable;
        if (unmappable.ok()) { calls.run(other_calls); }
    }
    table = Publish();
}

TEST(Resources, TenThousandMixedCallsLeaveNoHandleHeapOrViewBehind) {
    MixedCalls calls;
    auto table = Publish();
    // A first round of everything: the platform's own first-use allocations (text conversion,
    // window classes, fonts of the dialog) happen here and are not counted. Its dialog is
    // painted in full: the first time a list box's scroll bar is drawn, the platform's theme
    // loads and keeps its scroll bar images (about 3.5 KB of heap under Wine), and a dialog that
    // is closed as soon as it is visible may or may not have been painted yet.
    Round(calls, table, 200, 50, true, true, Paint::everything);
    const long warm_up = calls.calls();
    const Usage before = Measure();

    // 10 rounds of 850 + 3 x 50 calls, one stuck read and five dialog fills: 10,001 calls.
    Usage middle{};
    for (int round = 0; round < 10; ++round) {
        Round(calls, table, 850, 50, round == 0, round % 2 == 0);
        if (round == 4) { middle = Measure(); }
    }
    const Usage after = Measure();
    const long measured = calls.calls() - warm_up;

    std::printf("%ld calls and 5 dialog fills: handles %zu -> %zu -> %zu, heap bytes in use %zu -> %zu -> %zu, "
                "mapped views %zu -> %zu -> %zu\n",
                measured, before.handles, middle.handles, after.handles, before.heap, middle.heap, after.heap,
                before.views, middle.views, after.views);
    EXPECT_GE(measured, 10000) << "calls made";
    EXPECT_EQ(calls.null_answers(), 0) << "calls that answered a null pointer";
    EXPECT_EQ(after.handles, before.handles) << "open handles after " << measured << " calls";
    EXPECT_EQ(after.views, before.views) << "mapped views after " << measured << " calls";
    // Nothing may grow with the number of calls: a leak of one byte per call would be 5,000
    // bytes in the second half.
    EXPECT_LE(after.heap, middle.heap + 1024) << "heap bytes in use after the second " << measured / 2
                                              << " calls (before them: " << middle.heap << ")";
    EXPECT_LE(after.heap, before.heap + 8192) << "heap bytes in use after " << measured << " calls (before: "
                                              << before.heap << ")";
}

}  // namespace
}  // namespace vorkast::test
