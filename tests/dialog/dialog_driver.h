// Drives the plug-in's "Sensors" dialog in a real window: configure() runs on a worker thread,
// the way the host's thread would run it, and the test thread finds, reads and closes the
// windows that it shows. Every wait has a timeout; every cross-thread message is sent with one.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace vorkast::test {

// Upper bound for every wait on the dialog (a hang fails the test instead of blocking it).
inline constexpr DWORD kWindowTimeoutMs = 10000;

// Handles this thread's messages until `done()` is true or `timeout_ms` has passed, and returns
// the last result of `done()`. The dialog and its message boxes are owned by a window of the
// test thread, and the system sends that window messages (enabling, activation) from the
// worker, so the test thread keeps handling messages whenever it waits.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = kWindowTimeoutMs);

// A real top-level window on the test thread that stands in for the host's window.
class StandInHostWindow {
public:
    StandInHostWindow();
    ~StandInHostWindow();
    StandInHostWindow(const StandInHostWindow&) = delete;
    StandInHostWindow& operator=(const StandInHostWindow&) = delete;

    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

// configure() of the loaded plug-in, called on a worker thread from the constructor.
class ConfigureCall {
public:
    ConfigureCall();
    // If configure has not returned yet, asks every window the worker still shows to close
    // (IDOK) for a bounded time; a worker that even then does not end is reported and left.
    ~ConfigureCall();
    ConfigureCall(const ConfigureCall&) = delete;
    ConfigureCall& operator=(const ConfigureCall&) = delete;

    DWORD thread_id() const;

    // Waits until configure has returned; false after the timeout.
    bool WaitFinished(DWORD timeout_ms = kWindowTimeoutMs);
    bool finished() const;
    // configure's result; valid once finished.
    int result() const;

    // A top-level dialog-class ("#32770") window of the worker with this title, visible or
    // not, or null.
    HWND FindDialog(const std::wstring& title) const;
    // The same, once it is visible; null after the timeout.
    HWND WaitForVisibleDialog(const std::wstring& title, DWORD timeout_ms = kWindowTimeoutMs) const;

private:
    struct Worker;
    Worker* worker_;  // shared with the worker thread; left behind if the worker never ends
};

// Window text via WM_GETTEXT (with a timeout).
std::wstring WindowText(HWND window);

// Texts of the window's "Static" children, in child order (a message box shows its message
// in one).
std::vector<std::wstring> StaticTexts(HWND window);

// Every entry of a list box, in list order, read with LB_GETCOUNT, LB_GETTEXTLEN and
// LB_GETTEXT.
std::vector<std::wstring> ListEntries(HWND list);

// Posts a key press (down and up) to the window that has the worker's keyboard focus, or to
// `fallback` when the worker has none.
void PressKey(DWORD worker_thread, HWND fallback, UINT virtual_key);

}  // namespace vorkast::test
