// The "Sensors" dialog that configure shows: every record of the published sensor table as
// "number: name" in a sorted list box, read once while the dialog opens.
#pragma once

#include <windows.h>

namespace vorkast {

// Dialog procedure of template IDD_SENSORS. WM_INITDIALOG fills the list (a missing table or
// view is reported in a message box owned by the host window, and the list stays empty) and
// returns TRUE; IDOK or IDCANCEL ends the dialog with 1. Never throws.
INT_PTR CALLBACK SensorsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

}  // namespace vorkast
