// Every export scenario with each counted call of the plug-in failed in turn: first the calls
// that the scenario makes through the plug-in's import table are counted, then for k = 1..N
// the k-th call of each function fails the way the real function fails, once and from then
// on. Every run must answer what README.md's table gives for that failure, leave no section
// handle, view or heap behind, leave the dialog's owner enabled and no window open; and the
// next call, with nothing failing, must answer as before.
#include "sensors/table_writer.h"
#include "tests/support/case_name.h"
#include "tests/support/failing_imports.h"
#include "tests/support/messages.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/process_resources.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr char kNoInstance[] = "Invalid plug-in instance";
constexpr char kErrorBox[] = "Error: ";

enum class Export { kValueBySensor, kValueByName, kStartupShutdown, kConfigure };

// The value stored in the scenario's sensor.
enum class Stored { kNothing, kR8, kI4, kDate, kBool, kBstr };

struct Scenario {
    const char* what;
    Export calls;
    bool table;          // whether a table is published
    Stored stored;       // the first sensor's value ("Probe")
    const char* parameter;
};

const Scenario kScenarios[] = {
    {"ValueBySensor on a double", Export::kValueBySensor, true, Stored::kR8, "1"},
    {"ValueBySensor on a 32-bit integer", Export::kValueBySensor, true, Stored::kI4, "1"},
    {"ValueBySensor on a date", Export::kValueBySensor, true, Stored::kDate, "1"},
    {"ValueBySensor on a Boolean", Export::kValueBySensor, true, Stored::kBool, "1"},
    {"ValueBySensor on a stored string", Export::kValueBySensor, true, Stored::kBstr, "1"},
    {"ValueBySensor with no table", Export::kValueBySensor, false, Stored::kNothing, "1"},
    {"ValueByName found", Export::kValueByName, true, Stored::kR8, "Probe"},
    {"ValueByName not found", Export::kValueByName, true, Stored::kR8, "Nobody"},
    {"dllstartup and dllshutdown", Export::kStartupShutdown, false, Stored::kNothing, nullptr},
    {"configure with a table", Export::kConfigure, true, Stored::kR8, nullptr},
    {"configure with no table", Export::kConfigure, false, Stored::kNothing, nullptr},
};

// Shown in test listings instead of the scenario's bytes.
void PrintTo(const Scenario& s, std::ostream* out) { *out << s.what; }

// The table's sensors after the first; the dialog lists them too.
const wchar_t* const kOtherNames[] = {L"CPU Core #1", L"Fan #2", L"Total Power"};

VARIANT StoredValue(Stored stored) {
    VARIANT v;
    ::VariantInit(&v);
    switch (stored) {
        case Stored::kNothing: break;
        case Stored::kR8: return MakeR8(-12.625);
        case Stored::kI4: return MakeI4(40213);
        case Stored::kBool: return MakeBool(true);
        case Stored::kDate:
            v.vt = VT_DATE;
            v.date = 45317.5390625;  // 2024-01-26 12:56:15
            break;
        case Stored::kBstr: break;   // stored raw, see Publish
    }
    return v;
}

// The scenario's table: "Probe" with the stored value, then the other names.
std::unique_ptr<SensorTableWriter> Publish(const Scenario& s) {
    if (!s.table) { return nullptr; }
    auto table = std::make_unique<SensorTableWriter>(1 + std::size(kOtherNames));
    table->set_name(0, L"Probe");
    if (s.stored == Stored::kBstr) {
        // A string as the writer would store it: a pointer into the writer's own memory.
        StoredVariant raw{};
        const VARTYPE type = VT_BSTR;
        std::memcpy(raw.bytes, &type, sizeof type);
        std::memset(raw.bytes + 8, 0x5A, 8);
        table->set_stored_value(0, raw);
    } else {
        table->set_value(0, StoredValue(s.stored));
    }
    for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
        table->set_name(i + 1, kOtherNames[i]);
        table->set_value(i + 1, MakeI4(static_cast<LONG>(i)));
    }
    table->set_count(static_cast<std::uint16_t>(1 + std::size(kOtherNames)));
    return table;
}

// The dialog's entries for the scenario's table, in record order.
std::vector<std::wstring> EntriesInRecordOrder(const Scenario& s) {
    if (!s.table) { return {}; }
    std::vector<std::wstring> entries = {L"1: Probe"};
    for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
        entries.push_back(std::to_wstring(i + 2) + L": " + kOtherNames[i]);
    }
    return entries;
}

// The platform's own text of a value, in the ANSI code page.
std::string PlatformText(VARIANT value) {
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, &value, 0, VT_BSTR))) { return "(no text)"; }
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(n > 0 ? n - 1 : 0, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, -1, narrow.data(), n, nullptr, nullptr);
    ::VariantClear(&text);
    return narrow;
}

// What one run of the scenario showed.
struct Outcome {
    std::string answer;  // the value text; dllstartup: ValueBySensor("0") on the new instance;
                         // configure: its result
    DialogObservation dialog;
    bool owner_enabled_after = true;
    int windows_left = 0;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.answer == b.answer && a.dialog.message_boxes == b.dialog.message_boxes &&
           a.dialog.dialog_initialised == b.dialog.dialog_initialised && a.dialog.list == b.dialog.list &&
           a.dialog.owner_disabled_in_dialog == b.dialog.owner_disabled_in_dialog &&
           a.owner_enabled_after == b.owner_enabled_after && a.windows_left == b.windows_left;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::string Describe(const Outcome& o, Export calls) {
    std::ostringstream out;
    out << "answer \"" << o.answer << "\"";
    if (calls == Export::kConfigure) {
        out << ", message boxes [";
        for (const auto& b : o.dialog.message_boxes) { out << "\"" << b << "\" "; }
        if (o.dialog.dialog_initialised) {
            out << "], dialog shown with list [";
            for (const auto& e : o.dialog.list) { out << "\"" << Narrow(e) << "\" "; }
            out << "], owner " << (o.dialog.owner_disabled_in_dialog ? "disabled" : "ENABLED") << " under it";
        } else {
            out << "], no dialog";
        }
        out << ", owner " << (o.owner_enabled_after ? "enabled" : "DISABLED") << " after";
    }
    out << ", windows left " << o.windows_left;
    return out.str();
}

bool IsMemory(Import i) {
    switch (i) {
        case Import::kVariantChangeType:
        case Import::kVariantCopy:
        case Import::kSysAllocString:
        case Import::kSysAllocStringLen:
        case Import::kSysAllocStringByteLen:
        case Import::kMalloc:
        case Import::kRealloc:
        case Import::kCalloc:
        case Import::kMultiByteToWideChar:
        case Import::kWideCharToMultiByte: return true;
        default: return false;
    }
}

bool IsDialogCreation(Import i) {
    return i == Import::kDialogBoxParamA || i == Import::kDialogBoxParamW ||
           i == Import::kDialogBoxIndirectParamA || i == Import::kDialogBoxIndirectParamW;
}

BOOL CALLBACK CountLeftWindow(HWND window, LPARAM param) {
    auto* sweep = reinterpret_cast<std::pair<HWND, int>*>(param);
    wchar_t cls[16] = {};
    ::GetClassNameW(window, cls, 16);
    if (window != sweep->first && (::lstrcmpW(cls, L"#32770") == 0 || ::IsWindowVisible(window))) {
        ++sweep->second;
    }
    return TRUE;
}

BOOL CALLBACK DestroyLeftWindow(HWND window, LPARAM host) {
    if (window != reinterpret_cast<HWND>(host)) { ::DestroyWindow(window); }
    return TRUE;
}

class FailureSweep : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        ASSERT_NE(host_.get(), nullptr);
        const auto& plugin = Interface();
        ASSERT_NE(plugin.configure, nullptr);
        by_number_ = plugin.require_value_function("ValueBySensor");
        by_name_ = plugin.require_value_function("ValueByName");
        instance_ = plugin.dllstartup(host_.get(), 0);
        ASSERT_NE(instance_, nullptr);
    }
    void TearDown() override { Interface().dllshutdown(instance_); }

    // One call of the scenario's exports. Between the heap figures only the plug-in runs.
    Outcome Run(const Scenario& s, long long& heap_growth) {
        const auto& plugin = Interface();
        char answer[128] = {};
        const std::size_t before = HeapBusyBytes();
        switch (s.calls) {
            case Export::kValueBySensor:
            case Export::kValueByName: {
                const char* text = (s.calls == Export::kValueBySensor ? by_number_ : by_name_)(instance_, s.parameter);
                ::lstrcpynA(answer, text != nullptr ? text : "(null)", sizeof answer);
                break;
            }
            case Export::kStartupShutdown: {
                void* instance = plugin.dllstartup(host_.get(), 0);
                const char* text = by_number_(instance, "0");
                ::lstrcpynA(answer, text != nullptr ? text : "(null)", sizeof answer);
                plugin.dllshutdown(instance);
                break;
            }
            case Export::kConfigure:
                ::wsprintfA(answer, "%d", plugin.configure());
                break;
        }
        const std::size_t after = HeapBusyBytes();
        heap_growth = static_cast<long long>(after) - static_cast<long long>(before);

        Outcome o;
        o.answer = answer;
        o.dialog = faults_->dialog();
        o.owner_enabled_after = ::IsWindowEnabled(host_.get()) != FALSE;
        if (!o.owner_enabled_after) { ::EnableWindow(host_.get(), TRUE); }  // for the runs after it
        std::pair<HWND, int> left{host_.get(), 0};
        ::EnumThreadWindows(::GetCurrentThreadId(), CountLeftWindow, reinterpret_cast<LPARAM>(&left));
        o.windows_left = left.second;
        if (o.windows_left != 0) { CloseLeftWindows(); }
        return o;
    }

    // What README.md's table gives when call k of `f`'s function fails (and, from then on,
    // every later one: the first failure decides).
    Outcome Expected(const Scenario& s, const Outcome& base, const Failure& f, int k, FailureMode mode) const {
        Outcome want = base;
        const Import i = f.import;
        switch (s.calls) {
            case Export::kValueBySensor:
                if (i == Import::kOpenFileMappingA) { want.answer = kNotRunning; }
                if (i == Import::kMapViewOfFile) { want.answer = kCannotRead; }
                if (IsMemory(i)) { want.answer = kByNumberFailure; }
                break;
            case Export::kValueByName:
                // The first opening is the name search's, which answers "no such name"; the
                // second is the read's, which gives its own messages as by number.
                if (i == Import::kOpenFileMappingA) { want.answer = k == 1 ? kInvalidNumber : kNotRunning; }
                if (i == Import::kMapViewOfFile) { want.answer = k == 1 ? kInvalidNumber : kCannotRead; }
                if (IsMemory(i)) { want.answer = kByNameFailure; }
                break;
            case Export::kStartupShutdown:
                if (IsMemory(i)) { want.answer = kNoInstance; }
                break;
            case Export::kConfigure:
                if (i == Import::kOpenFileMappingA || i == Import::kMapViewOfFile) {
                    want.dialog.message_boxes = {std::string(kErrorBox) +
                                                 (i == Import::kOpenFileMappingA ? kNotRunning : kCannotRead) +
                                                 ", owner host"};
                    want.dialog.list.clear();
                }
                if (i == Import::kLbAddString) {
                    // The entry whose addition failed is missing (from then on: every later one).
                    std::vector<std::wstring> entries = EntriesInRecordOrder(s);
                    if (mode == FailureMode::kOnce) {
                        entries.erase(entries.begin() + (k - 1));
                    } else {
                        entries.resize(k - 1);
                    }
                    std::sort(entries.begin(), entries.end());
                    want.dialog.list = entries;
                }
                if (IsDialogCreation(i)) { want.dialog = DialogObservation{}; }
                break;
        }
        return want;
    }

    void CloseLeftWindows() {
        for (int round = 0; round < 50; ++round) {
            std::pair<HWND, int> left{host_.get(), 0};
            ::EnumThreadWindows(::GetCurrentThreadId(), CountLeftWindow, reinterpret_cast<LPARAM>(&left));
            if (left.second == 0) { return; }
            ::EnumThreadWindows(::GetCurrentThreadId(), DestroyLeftWindow, reinterpret_cast<LPARAM>(host_.get()));
        }
    }

    host::HostWindow host_{"Failure sweep host", false};
    host::ValueFn by_number_ = nullptr;
    host::ValueFn by_name_ = nullptr;
    void* instance_ = nullptr;
    std::unique_ptr<FailingImports> faults_;
};

TEST_P(FailureSweep, EachCallFailedInTurn) {
    const Scenario& s = GetParam();
    const auto table = Publish(s);
    faults_ = std::make_unique<FailingImports>(Plugin().module(), host_.get());
    const std::vector<std::string> missing = faults_->missing(
        {Import::kOpenFileMappingA, Import::kMapViewOfFile, Import::kVariantChangeType, Import::kVariantCopy,
         Import::kSysAllocString, Import::kMalloc, Import::kMultiByteToWideChar, Import::kWideCharToMultiByte,
         Import::kLbAddString, Import::kDialogBoxParamA, Import::kMessageBoxA});
    ASSERT_TRUE(missing.empty()) << "the plug-in does not import " << ::testing::PrintToString(missing)
                                 << " (under that name): the sweep would not reach those calls";

    // The plug-in's first exception takes one-time steps of its runtime (thread data, a lock
    // and its handles): taken here, with a failed string allocation under a call that has no
    // table to read, so that they do not count as left behind by the first scenario's runs.
    faults_->fail(Failure{Import::kSysAllocString, "SysAllocString: NULL", 0}, 1, FailureMode::kOnce);
    by_number_(instance_, "65535");
    // The first call takes the one-time steps of the runtime and the platform; the second is
    // the baseline, whose calls are counted.
    long long growth = 0;
    faults_->count_only();
    Run(s, growth);
    faults_->count_only();
    const Outcome base = Run(s, growth);
    int counted[static_cast<int>(Import::kCount)];
    for (int i = 0; i < static_cast<int>(Import::kCount); ++i) { counted[i] = faults_->calls(static_cast<Import>(i)); }

    // The baseline itself is what README.md's table gives with nothing failing.
    Outcome want_base;
    switch (s.calls) {
        case Export::kValueBySensor:
        case Export::kValueByName:
            want_base.answer = !s.table                    ? kNotRunning
                               : std::strcmp(s.parameter, "Nobody") == 0 ? kInvalidNumber
                               : s.stored == Stored::kBstr ? kUnsupported
                                                           : PlatformText(StoredValue(s.stored));
            break;
        case Export::kStartupShutdown: want_base.answer = kInvalidNumber; break;
        case Export::kConfigure: {
            want_base.answer = "0";
            want_base.dialog.dialog_initialised = true;
            want_base.dialog.owner_disabled_in_dialog = true;
            want_base.dialog.list = EntriesInRecordOrder(s);
            std::sort(want_base.dialog.list.begin(), want_base.dialog.list.end());
            if (!s.table) { want_base.dialog.message_boxes = {std::string(kErrorBox) + kNotRunning + ", owner host"}; }
            break;
        }
    }
    ASSERT_TRUE(base == want_base) << s.what << ", nothing failing:\n  got:      " << Describe(base, s.calls)
                                   << "\n  expected: " << Describe(want_base, s.calls);

    const std::size_t handles_before = OpenHandleCount();
    const std::size_t views_before = MappedViewCount();
    int runs = 0;
    int failures = 0;
    std::ostringstream swept;
    for (const Failure& f : EveryFailure()) {
        const int n = counted[static_cast<int>(f.import)];
        if (n != 0) { swept << "\n  " << f.description << ": " << n << " call(s)"; }
        for (int k = 1; k <= n; ++k) {
            for (const FailureMode mode : {FailureMode::kOnce, FailureMode::kFromThenOn}) {
                std::ostringstream where_text;
                where_text << s.what << ", " << f.description << ", call " << k << " of " << n << ", "
                           << ModeName(mode);
                const std::string where = where_text.str();
                SetCurrentRun(where.c_str());
                ++runs;

                faults_->fail(f, k, mode);
                long long heap = 0;
                const Outcome got = Run(s, heap);
                const int failed = faults_->failed_calls();
                const int sections = faults_->open_sections();
                const int views = faults_->mapped_views();
                const Outcome want = Expected(s, base, f, k, mode);
                if (heap > 0) {
                    // A one-time step of the runtime or the platform (the first exception thrown,
                    // a cache) shows once; a leak shows again when the same run is repeated.
                    faults_->fail(f, k, mode);
                    Run(s, heap);
                }

                faults_->count_only();
                long long next_heap = 0;
                const Outcome next = Run(s, next_heap);

                std::ostringstream problems;
                if (failed == 0) { problems << "\n  call " << k << " was never made (the count changed)"; }
                if (!(got == want)) {
                    problems << "\n  got:      " << Describe(got, s.calls) << "\n  expected: " << Describe(want, s.calls);
                }
                if (heap > 0) { problems << "\n  heap left behind: " << heap << " bytes (in two runs alike)"; }
                if (sections != 0 || views != 0) {
                    problems << "\n  left open: " << sections << " section handle(s), " << views << " view(s)";
                }
                if (!(next == base)) {
                    problems << "\n  the next call, nothing failing:\n  got:      " << Describe(next, s.calls)
                             << "\n  expected: " << Describe(base, s.calls);
                }
                if (!problems.str().empty()) {
                    ADD_FAILURE() << where << problems.str();
                    if (++failures == 10) { FAIL() << "(more runs left out after 10 failures)"; }
                }
            }
        }
    }
    SetCurrentRun("(between runs)");
    // The process-wide figures back up the tracking of the plug-in's own sections and views.
    // Only after clean runs: reporting a failure opens handles of the test's own.
    if (failures == 0) {
        EXPECT_EQ(OpenHandleCount(), handles_before) << s.what << ": open handles after " << runs << " runs";
        EXPECT_EQ(MappedViewCount(), views_before) << s.what << ": mapped views after " << runs << " runs";
    }
    std::printf("%s: %d runs over the calls%s\n", s.what, runs, swept.str().c_str());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FailureSweep, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return CaseName(info.param.what); });

}  // namespace
}  // namespace vorkast::test
