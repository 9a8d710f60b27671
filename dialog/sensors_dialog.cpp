#include "dialog/sensors_dialog.h"

#include "dialog/resource.h"
#include "sensors/reader.h"
#include "sensors/section.h"
#include "sensors/table_layout.h"

#include <algorithm>
#include <cstddef>

namespace vorkast {
namespace {

constexpr char kErrorCaption[] = "Error";
constexpr char kNoListMessage[] = "Error filling list";

// Shown during WM_INITDIALOG, so before the dialog becomes visible; owned by the host's window
// (not by the still hidden dialog), and the dialog opens once the user has dismissed it.
//
// By then the modal dialog has already disabled its owner, the host's top-level window, and a
// message box with the same owner may enable that window again as it closes, which would leave
// the host usable (and configure callable again) under the open dialog. So the window is
// disabled again; the dialog enables it when it ends, as always.
void ShowError(HWND owner, const char* text) noexcept {
    const HWND top_level = owner != nullptr ? ::GetAncestor(owner, GA_ROOT) : nullptr;
    const bool disabled_by_dialog = top_level != nullptr && !::IsWindowEnabled(top_level);
    ::MessageBoxA(owner, text, kErrorCaption, MB_OK);
    if (disabled_by_dialog) { ::EnableWindow(top_level, FALSE); }
}

// Longest entry: the decimal digits of any record number, ": ", a whole name field, the zero.
constexpr std::size_t kMaxNumberDigits = 20;
constexpr std::size_t kMaxEntryUnits = kMaxNumberDigits + 2 + kSensorNameUnits + 1;

// Writes "number: name" for the record at `index` (number index + 1) into `entry`, zero
// terminated. Every name unit is loaded from the shared view exactly once, and no further
// than the zero unit or the end of the 322-unit field, whichever comes first: a writer that
// changes the name meanwhile can garble the text but not make it longer than its field.
void BuildEntry(std::size_t index, const SensorRecord& record, WCHAR* entry) noexcept {
    WCHAR digits[kMaxNumberDigits];
    std::size_t n = 0;
    for (std::size_t number = index + 1; number != 0; number /= 10) {
        digits[n++] = static_cast<WCHAR>(L'0' + number % 10);
    }
    WCHAR* out = entry;
    while (n != 0) { *out++ = digits[--n]; }
    *out++ = L':';
    *out++ = L' ';
    const volatile WCHAR* name = record.name;
    for (std::size_t i = 0; i < kSensorNameUnits; ++i) {
        const WCHAR unit = name[i];
        if (unit == 0) { break; }
        *out++ = unit;
    }
    *out = 0;
}

// Estimated characters per entry, for the list box's up-front reservation of string storage.
constexpr std::size_t kTypicalEntryUnits = 32;

void FillSensorList(HWND dialog, HWND owner) noexcept {
    const SensorSection section;
    switch (section.state()) {
        case SensorSection::State::no_section: ShowError(owner, kNotRunningMessage); return;
        case SensorSection::State::no_view: ShowError(owner, kCannotReadMessage); return;
        case SensorSection::State::open: break;
    }
    const HWND list = ::GetDlgItem(dialog, IDC_SENSOR_LIST);
    if (list == nullptr) {
        ShowError(owner, kNoListMessage);
        return;  // the section is released on the way out, after the message
    }
    if (!section.has_header() || section.count() == 0) { return; }

    // A sorted list box re-lays out and updates its scroll bar after every insertion; with
    // tens of thousands of sensors that dominates. Reserve room for the records the view can
    // hold and switch drawing off while adding; the entries and their order are unchanged.
    const std::size_t expected = std::min<std::size_t>(section.count(), section.whole_records());
    ::SendMessageW(list, LB_INITSTORAGE, expected, expected * kTypicalEntryUnits * sizeof(WCHAR));
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);

    WCHAR entry[kMaxEntryUnits];
    // The count is read afresh before every record: the writer may change it meanwhile. A
    // count that runs past the mapped view ends the list at the last whole record in it.
    for (std::size_t i = 0; i < section.count(); ++i) {
        const SensorRecord* record = section.record(i);
        if (record == nullptr) { break; }
        BuildEntry(i, *record, entry);
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }

    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

// The owner comes with WM_INITDIALOG, as the dialog's creation parameter.
INT_PTR CALLBACK SensorsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    switch (message) {
        case WM_INITDIALOG:
            FillSensorList(dialog, reinterpret_cast<HWND>(lparam));
            return TRUE;  // also after an error message: let the system set the focus
        case WM_COMMAND:
            // The OK button and Enter send IDOK; Escape and the close box send IDCANCEL. The
            // list box's notifications carry its own id and are ignored.
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) { ::EndDialog(dialog, 1); }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowSensorsDialog(HINSTANCE module, HWND owner) noexcept {
    ::DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_SENSORS), owner, SensorsDialogProc,
                      reinterpret_cast<LPARAM>(owner));
}

}  // namespace vorkast
