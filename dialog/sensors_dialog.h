// The "Sensors" dialog that configure shows: every record of the published sensor table as
// "number: name" in a sorted list box, read once while the dialog opens.
#pragma once

#include <windows.h>

namespace vorkast {

// Runs the modal dialog of template IDD_SENSORS from `module`'s resources, owned by `owner`
// (the host's window, or null), and returns once it has ended. While it opens it fills the
// list; a missing table or view is reported in a message box owned by `owner`, and the list
// stays empty. Never throws.
void ShowSensorsDialog(HINSTANCE module, HWND owner) noexcept;

}  // namespace vorkast
