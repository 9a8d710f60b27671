// Entry points that the host calls. All use the standard (stdcall) convention; every one is
// noexcept: no exception ever leaves the library.
#pragma once

#include <windows.h>

#define VORKAST_EXPORT extern "C"

// Opaque to the host: the address of one instance's result string.
typedef void* VorkastInstance;

VORKAST_EXPORT int WINAPI dlltype() noexcept;
VORKAST_EXPORT const char* WINAPI init() noexcept;
VORKAST_EXPORT const char* WINAPI getparam(const char* function_name) noexcept;
VORKAST_EXPORT const char* WINAPI getinfo(DWORD number) noexcept;
VORKAST_EXPORT VorkastInstance WINAPI dllstartup(HWND host_window, DWORD unused) noexcept;
VORKAST_EXPORT int WINAPI dllshutdown(VorkastInstance instance) noexcept;

// Shows the modal "Sensors" dialog owned by the host window; returns 0 when it has closed.
VORKAST_EXPORT int WINAPI configure() noexcept;

// The value functions: the sensor's current value (by 1-based number, or by exact name) as
// text, or a fixed message. The text lives in the instance until its next call or shutdown.
VORKAST_EXPORT const char* WINAPI ValueBySensor(VorkastInstance instance, const char* parameter) noexcept;
VORKAST_EXPORT const char* WINAPI ValueByName(VorkastInstance instance, const char* parameter) noexcept;
