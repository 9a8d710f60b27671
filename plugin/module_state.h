// The two process-wide values of the plug-in: its own module handle (set once at process
// attach) and the host's window (set by every dllstartup, the last call wins).
#pragma once

#include <windows.h>

namespace vorkast {

HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE module) noexcept;

// Owner of the dialog and of its message boxes; null until the first dllstartup.
HWND HostWindow() noexcept;
void SetHostWindow(HWND window) noexcept;

}  // namespace vorkast
