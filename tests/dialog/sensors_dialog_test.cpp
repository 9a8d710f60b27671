// The "Sensors" dialog in a real window: configure() runs on a worker thread as the host's
// thread would, the test thread publishes tables, reads the list box and closes the dialog.
#include "tests/dialog/dialog_driver.h"
#include "tests/support/memory_gone.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/process_resources.h"
#include "tests/support/release_log.h"
#include "tests/support/unmappable_section.h"

#include "sensors/table_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr int kSensorListId = 1001;
const std::wstring kSensorsTitle = L"Sensors";
const std::wstring kErrorTitle = L"Error";

// A published table and the entries that the dialog is to list for it (in any order).
struct Published {
    std::unique_ptr<SensorTableWriter> table;
    std::vector<std::wstring> entries;
};

std::wstring Entry(std::size_t number, const std::wstring& name) { return std::to_wstring(number) + L": " + name; }

// Records 1.. named `names`, count set to match.
Published Named(const std::vector<std::wstring>& names) {
    Published p{std::make_unique<SensorTableWriter>(names.size()), {}};
    for (std::size_t i = 0; i < names.size(); ++i) {
        p.table->set_name(i, names[i]);
        p.table->set_value(i, MakeI4(static_cast<LONG>(i)));
        p.entries.push_back(Entry(i + 1, names[i]));
    }
    p.table->set_count(static_cast<std::uint16_t>(names.size()));
    return p;
}

std::vector<std::wstring> Numbered(const wchar_t* prefix, std::size_t n) {
    std::vector<std::wstring> names;
    for (std::size_t i = 1; i <= n; ++i) { names.push_back(prefix + std::to_wstring(i)); }
    return names;
}

const std::vector<std::wstring> kTwelve = {L"CPU Package", L"CPU Core #1", L"CPU Core #2", L"GPU Core",
                                           L"GPU Hot Spot", L"Motherboard", L"Chipset", L"Fan #1",
                                           L"Fan #2", L"Drive C:", L"Drive D:", L"Total Power"};

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

bool HasVisibleErrorBox(const ConfigureCall& call) {
    const HWND box = call.FindDialog(kErrorTitle);
    return box != nullptr && ::IsWindowVisible(box);
}

BOOL CALLBACK CollectVisibleButtonIds(HWND child, LPARAM param) {
    wchar_t cls[32] = {};
    ::GetClassNameW(child, cls, 32);
    if (_wcsicmp(cls, L"Button") == 0 && ::IsWindowVisible(child)) {
        reinterpret_cast<std::vector<int>*>(param)->push_back(::GetDlgCtrlID(child));
    }
    return TRUE;
}

// Ids of the visible buttons of a window.
std::vector<int> VisibleButtonIds(HWND window) {
    std::vector<int> ids;
    ::EnumChildWindows(window, CollectVisibleButtonIds, reinterpret_cast<LPARAM>(&ids));
    return ids;
}

class SensorsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(host_.get(), nullptr);
        ASSERT_NE(Interface().configure, nullptr) << "the plug-in does not export configure";
        instance_ = std::make_unique<host::PluginInstance>(Interface(), host_.get());
    }
    void TearDown() override { instance_.reset(); }

    // Waits until the dialog is visible; an "Error" message box showing instead fails the test
    // (and is dismissed). Null on failure.
    static HWND ShowDialog(ConfigureCall& call) {
        HWND dialog = nullptr;
        PumpUntil([&] {
            if (HasVisibleErrorBox(call)) { return true; }
            dialog = call.FindDialog(kSensorsTitle);
            return dialog != nullptr && ::IsWindowVisible(dialog);
        });
        if (const HWND box = call.FindDialog(kErrorTitle); box != nullptr && ::IsWindowVisible(box)) {
            ADD_FAILURE() << "an \"Error\" message box showed: " << ::testing::PrintToString(StaticTexts(box));
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            return nullptr;
        }
        EXPECT_TRUE(dialog != nullptr && ::IsWindowVisible(dialog))
            << "no visible \"Sensors\" dialog after " << kWindowTimeoutMs << " ms";
        return dialog != nullptr && ::IsWindowVisible(dialog) ? dialog : nullptr;
    }

    // Closes with OK and expects configure to return 0.
    static void CloseWithOk(ConfigureCall& call, HWND dialog) {
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(call.WaitFinished()) << "configure did not return after IDOK";
        EXPECT_EQ(call.result(), 0) << "configure's result";
    }

    // Runs configure and expects the "Error" message box with `message` first, owned by the
    // host window, while the dialog is not yet visible; then the dialog with an empty list.
    void ExpectErrorBoxThenEmptyDialog(const std::wstring& message) {
        ConfigureCall call;
        const HWND box = call.WaitForVisibleDialog(kErrorTitle);
        ASSERT_NE(box, nullptr) << "no \"Error\" message box after " << kWindowTimeoutMs << " ms";
        EXPECT_EQ(::GetWindow(box, GW_OWNER), host_.get()) << "message box owner; the host window is " << host_.get();
        const std::vector<std::wstring> texts = StaticTexts(box);
        EXPECT_NE(std::find(texts.begin(), texts.end(), message), texts.end())
            << "message box texts " << ::testing::PrintToString(texts);
        EXPECT_EQ(VisibleButtonIds(box), std::vector<int>{IDOK}) << "buttons of an MB_OK box";
        const HWND hidden = call.FindDialog(kSensorsTitle);
        EXPECT_TRUE(hidden == nullptr || !::IsWindowVisible(hidden)) << "the dialog showed before the message box";

        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        const HWND dialog = call.WaitForVisibleDialog(kSensorsTitle);
        ASSERT_NE(dialog, nullptr) << "no visible \"Sensors\" dialog after the message box";
        EXPECT_FALSE(HasVisibleErrorBox(call)) << "a second message box";
        EXPECT_EQ(::GetWindow(dialog, GW_OWNER), host_.get()) << "dialog owner";
        EXPECT_FALSE(::IsWindowEnabled(host_.get())) << "the host window is enabled under the modal dialog";
        EXPECT_EQ(ListEntries(::GetDlgItem(dialog, kSensorListId)), std::vector<std::wstring>{}) << "list entries";
        CloseWithOk(call, dialog);
        EXPECT_TRUE(::IsWindowEnabled(host_.get())) << "the host window is not enabled again after the dialog";
    }

    StandInHostWindow host_;
    std::unique_ptr<host::PluginInstance> instance_;
};

// ---- What the list shows -------------------------------------------------------------------

struct ListCase {
    const char* name;
    Published (*publish)();
};

const ListCase kListCases[] = {
    {"TwelveRecords", [] { return Named(kTwelve); }},
    {"TwoHundredRecords", [] { return Named(Numbered(L"Sensor ", 200)); }},
    {"EmptyNameShowsNumberColonSpace", [] { return Named({L"CPU Package", L"", L"Fan #1"}); }},
    {"NamesOutsideTheCodePageUnchanged",
     [] {
         return Named({L"\x0422\x0435\x043C\x043F\x0435\x0440\x0430\x0442\x0443\x0440\x0430 \x0426\x041F",  // Cyrillic
                       L"\x6E29\x5EA6\x4F20\x611F\x5668",                                                   // CJK
                       L"\xD83C\xDF21 Thermometer",  // a surrogate pair (U+1F321)
                       L"\x03A3\x03C9 \x05D0\x05D1 \x0E01"});
     }},
    {"VersionTwoIsListedAll",
     [] {
         Published p = Named({L"CPU", L"GPU", L"Fan"});
         p.table->set_version(2);
         return p;
     }},
    {"CountZeroListsNothing",
     [] {
         Published p = Named({L"CPU", L"GPU", L"Fan"});
         p.table->set_count(0);
         p.entries.clear();
         return p;
     }},
    {"LongestAndUnterminatedNamesEndAtTheirField",
     [] {
         // Record 1: 321 units and the terminator; record 2: 322 units with no terminator and
         // a busy word that reads as two more characters, "BB", should a reader run past the
         // field; record 3 shows that the list goes on after it.
         Published p{std::make_unique<SensorTableWriter>(3), {}};
         const std::wstring longest(kSensorNameUnits - 1, L'L');
         const std::wstring full(kSensorNameUnits, L'U');
         p.table->set_name(0, longest);
         p.table->set_name_units(1, full.data(), full.size());
         p.table->set_busy(1, 0x00420042);
         p.table->set_name(2, L"After");
         p.table->set_count(3);
         p.entries = {Entry(1, longest), Entry(2, full), Entry(3, L"After")};
         return p;
     }},
    {"CountBeyondTheSectionEndsAtTheLastWholeRecord",
     [] {
         // 8192 bytes hold the header and 11 whole records (the 12th is cut by the section's
         // end); the count claims 65535.
         Published p{std::make_unique<SensorTableWriter>(0, 8192), {}};
         EXPECT_EQ(p.table->capacity(), 11u) << "whole records in 8192 bytes";
         for (std::size_t i = 0; i < p.table->capacity(); ++i) {
             p.table->set_name(i, L"Sensor " + std::to_wstring(i + 1));
             p.entries.push_back(Entry(i + 1, L"Sensor " + std::to_wstring(i + 1)));
         }
         p.table->set_count(65535);
         return p;
     }},
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class SensorsDialogList : public SensorsDialog, public ::testing::WithParamInterface<ListCase> {};

TEST_P(SensorsDialogList, ListsEveryRecordAsNumberColonName) {
    const Published published = GetParam().publish();
    const std::size_t views_before = MappedViewCount();

    ConfigureCall call;
    const HWND dialog = ShowDialog(call);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), host_.get()) << "dialog owner";
    const HWND list = ::GetDlgItem(dialog, kSensorListId);
    ASSERT_NE(list, nullptr) << "no list box with id " << kSensorListId;
    EXPECT_TRUE(::IsWindowVisible(list)) << "the list box is hidden";

    const std::vector<std::wstring> entries = ListEntries(list);
    EXPECT_EQ(entries.size(), published.entries.size()) << "number of entries";
    EXPECT_EQ(Sorted(entries), Sorted(published.entries)) << "entries (both sorted for comparing)";
    EXPECT_EQ(MappedViewCount(), views_before) << "views mapped while the dialog shows (the table must be released)";
    EXPECT_FALSE(HasVisibleErrorBox(call)) << "an \"Error\" message box";

    CloseWithOk(call, dialog);
}

INSTANTIATE_TEST_SUITE_P(Tables, SensorsDialogList, ::testing::ValuesIn(kListCases),
                         [](const ::testing::TestParamInfo<ListCase>& info) { return info.param.name; });

TEST_F(SensorsDialog, OrdersEntriesAsTextNotByNumber) {
    const Published published = Named(kTwelve);
    ConfigureCall call;
    const HWND dialog = ShowDialog(call);
    ASSERT_NE(dialog, nullptr);
    const std::vector<std::wstring> entries = ListEntries(::GetDlgItem(dialog, kSensorListId));
    auto position = [&](std::size_t number) {
        const auto it = std::find(entries.begin(), entries.end(), Entry(number, kTwelve[number - 1]));
        return it - entries.begin();
    };
    const auto two = position(2);
    ASSERT_LT(static_cast<std::size_t>(two), entries.size()) << "no entry for sensor 2 in " << ::testing::PrintToString(entries);
    for (std::size_t number : {10, 11, 12}) {
        EXPECT_LT(position(number), two) << "sensor " << number << " should stand above sensor 2 in "
                                         << ::testing::PrintToString(entries);
    }
    CloseWithOk(call, dialog);
}

// configure needs no memory of the plug-in's own: with its allocations failing for good, the
// dialog still lists the table and closes as always.
TEST_F(SensorsDialog, ListsTheTableWhileMemoryIsGone) {
    for (const Gone gone : {Gone::heap, Gone::strings}) {
        const Published published = Named(kTwelve);
        const MemoryGone memory_gone(Plugin().module(), gone);
        ASSERT_TRUE(memory_gone.active()) << ToText(gone);
        ConfigureCall call;
        const HWND dialog = ShowDialog(call);
        ASSERT_NE(dialog, nullptr) << ToText(gone);
        EXPECT_EQ(Sorted(ListEntries(::GetDlgItem(dialog, kSensorListId))), Sorted(published.entries)) << ToText(gone);
        CloseWithOk(call, dialog);
        EXPECT_TRUE(::IsWindowEnabled(host_.get())) << ToText(gone) << ": the host window is not enabled again";
    }
}

// ---- Failures are reported first, then the dialog opens empty ------------------------------

TEST_F(SensorsDialog, NoTableReportsNotRunningThenShowsAnEmptyList) {
    ExpectErrorBoxThenEmptyDialog(L"Vorkast is not running or unsupported version");
}

TEST_F(SensorsDialog, UnmappableTableReportsCannotReadThenShowsAnEmptyList) {
    const UnmappableSection section;
    if (!section.ok()) { GTEST_SKIP() << section.description(); }
    std::printf("unmappable table: %s\n", section.description().c_str());
    ExpectErrorBoxThenEmptyDialog(L"Can not read shared data");
}

TEST_F(SensorsDialog, ReleasesViewThenHandleAndLeavesNothingBehind) {
    for (const bool unmappable_table : {false, true}) {
        SCOPED_TRACE(unmappable_table ? "unmappable table" : "listed table");
        std::unique_ptr<SensorTableWriter> listed;
        std::unique_ptr<UnmappableSection> unmappable;
        if (unmappable_table) {
            unmappable = std::make_unique<UnmappableSection>();
            if (!unmappable->ok()) {
                std::printf("unmappable table skipped: %s\n", unmappable->description().c_str());
                continue;
            }
        } else {
            listed = Named(kTwelve).table;
        }
        auto show_and_close = [&] {
            ConfigureCall call;
            if (unmappable_table) {
                const HWND box = call.WaitForVisibleDialog(kErrorTitle);
                ASSERT_NE(box, nullptr) << "no \"Error\" message box";
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            const HWND dialog = call.WaitForVisibleDialog(kSensorsTitle);
            ASSERT_NE(dialog, nullptr) << "no visible \"Sensors\" dialog";
            CloseWithOk(call, dialog);
        };
        // The first dialog of a process loads fonts, classes and the like for good: count
        // around the second.
        show_and_close();
        const std::size_t handles = OpenHandleCount();
        const std::size_t views = MappedViewCount();
        {
            ReleaseLog log(Plugin().module());
            ASSERT_TRUE(log.active()) << "the plug-in's imports of the four section functions were not found";
            show_and_close();
            EXPECT_EQ(log.text(), unmappable_table ? "open H1, map H1 none, close H1"
                                                   : "open H1, map H1 V1, unmap V1, close H1")
                << "the dialog's section calls, in order";
        }
        EXPECT_EQ(OpenHandleCount(), handles) << "open handles after configure";
        EXPECT_EQ(MappedViewCount(), views) << "mapped views after configure";
    }
}

// ---- Ownership and closing -----------------------------------------------------------------

TEST_F(SensorsDialog, IsModalAndOwnedByTheWindowOfTheLatestStartup) {
    const StandInHostWindow second_host;
    const host::PluginInstance second_instance(Interface(), second_host.get());
    const Published published = Named(kTwelve);

    ConfigureCall call;
    const HWND dialog = ShowDialog(call);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), second_host.get())
        << "owner; first host " << host_.get() << ", latest host " << second_host.get();
    EXPECT_FALSE(::IsWindowEnabled(second_host.get())) << "the owner stays enabled under a modal dialog";
    CloseWithOk(call, dialog);
    EXPECT_TRUE(::IsWindowEnabled(second_host.get())) << "the owner is not enabled again after the dialog";
}

struct CloseCase {
    const char* name;
    void (*close)(DWORD worker_thread, HWND dialog);
};

const CloseCase kCloseCases[] = {
    {"OkButton", [](DWORD, HWND dialog) { ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); }},
    {"EnterKey", [](DWORD worker, HWND dialog) { PressKey(worker, ::GetDlgItem(dialog, kSensorListId), VK_RETURN); }},
    {"EscapeKey", [](DWORD worker, HWND dialog) { PressKey(worker, ::GetDlgItem(dialog, kSensorListId), VK_ESCAPE); }},
    {"CloseBox", [](DWORD, HWND dialog) { ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"OkFromAnAccelerator", [](DWORD, HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0); }},
};

void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }

class SensorsDialogClose : public SensorsDialog, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(SensorsDialogClose, EndsTheDialogAndConfigureReturnsZero) {
    const Published published = Named(kTwelve);
    ConfigureCall call;
    const HWND dialog = ShowDialog(call);
    ASSERT_NE(dialog, nullptr);
    GetParam().close(call.thread_id(), dialog);
    ASSERT_TRUE(call.WaitFinished()) << "configure did not return";
    EXPECT_EQ(call.result(), 0) << "configure's result";
    EXPECT_FALSE(::IsWindow(dialog)) << "the dialog window still exists";
    EXPECT_TRUE(::IsWindowEnabled(host_.get())) << "the host window was not enabled again";
}

INSTANTIATE_TEST_SUITE_P(Ways, SensorsDialogClose, ::testing::ValuesIn(kCloseCases),
                         [](const ::testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

TEST_F(SensorsDialog, ListNotificationsDoNotEndIt) {
    const Published published = Named(kTwelve);
    ConfigureCall call;
    const HWND dialog = ShowDialog(call);
    ASSERT_NE(dialog, nullptr);
    const HWND list = ::GetDlgItem(dialog, kSensorListId);
    for (WORD notification : {LBN_SELCHANGE, LBN_DBLCLK}) {
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSensorListId, notification), reinterpret_cast<LPARAM>(list));
    }
    PumpUntil([&] { return call.finished(); }, 300);
    EXPECT_FALSE(call.finished()) << "configure returned on a list box notification";
    EXPECT_TRUE(::IsWindowVisible(dialog)) << "the dialog closed on a list box notification";
    if (!call.finished()) { CloseWithOk(call, dialog); }
}

}  // namespace
}  // namespace vorkast::test
