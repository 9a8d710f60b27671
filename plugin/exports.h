// Entry points that the host calls. All use the standard (stdcall) convention; every one is
// noexcept: no exception ever leaves the library.
#pragma once

#include <windows.h>

// C names (no C++ decoration); what is exported, and under which names, VorkastPlugin.def says.
#define VORKAST_C_LINKAGE extern "C"

// Opaque to the host: the address of one instance's result string.
typedef void* VorkastInstance;

VORKAST_C_LINKAGE int WINAPI dlltype() noexcept;
VORKAST_C_LINKAGE const char* WINAPI init() noexcept;
VORKAST_C_LINKAGE const char* WINAPI getparam(const char* function_name) noexcept;
VORKAST_C_LINKAGE const char* WINAPI getinfo(DWORD number) noexcept;
VORKAST_C_LINKAGE VorkastInstance WINAPI dllstartup(HWND host_window, DWORD unused) noexcept;
VORKAST_C_LINKAGE int WINAPI dllshutdown(VorkastInstance instance) noexcept;

// Shows the modal "Sensors" dialog owned by the host window; returns 0 when it has closed.
VORKAST_C_LINKAGE int WINAPI configure() noexcept;

// The value functions: the sensor's current value (by 1-based number, or by exact name) as
// text, or a fixed message. The text lives in the instance until its next call or shutdown.
VORKAST_C_LINKAGE const char* WINAPI ValueBySensor(VorkastInstance instance, const char* parameter) noexcept;
VORKAST_C_LINKAGE const char* WINAPI ValueByName(VorkastInstance instance, const char* parameter) noexcept;
