#include "tests/dialog/dialog_driver.h"

#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace vorkast::test {
namespace {

constexpr DWORD kSendTimeoutMs = 5000;

bool Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
    DWORD_PTR answer = 0;
    if (::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                              &answer) == 0) {
        return false;
    }
    *result = static_cast<LRESULT>(answer);
    return true;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return ::DefWindowProcW(window, message, wparam, lparam);
}

// Asks a dialog or message box to close as its OK button would.
BOOL CALLBACK PostOkToDialogs(HWND window, LPARAM) {
    if (ClassName(window) == L"#32770") { ::PostMessageW(window, WM_COMMAND, IDOK, 0); }
    return TRUE;
}

struct DialogSearch {
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK FindDialogByTitle(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (ClassName(window) == L"#32770" && WindowText(window) == *search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStatics(HWND child, LPARAM param) {
    if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    }
    return TRUE;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) { return true; }
        if (::GetTickCount64() >= deadline) { return false; }
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

StandInHostWindow::StandInHostWindow() {
    static const ATOM atom = [] {
        WNDCLASSW cls{};
        cls.lpfnWndProc = StandInWindowProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.lpszClassName = L"VorkastStandInHost";
        return ::RegisterClassW(&cls);
    }();
    window_ = ::CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)), L"Stand-in host", WS_OVERLAPPEDWINDOW, 40, 40, 600, 400,
                                nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    // Under Wine, error 0 here usually means no X server answers on the display Wine was
    // given: scripts/wine-env.sh starts Xvfb for the tests.
    EXPECT_NE(window_, nullptr) << "CreateWindowEx failed, error " << ::GetLastError()
                                << " (is an X server running on DISPLAY?)";
}

StandInHostWindow::~StandInHostWindow() {
    if (window_ != nullptr) { ::DestroyWindow(window_); }
}

struct ConfigureCall::Worker {
    host::ConfigureFn configure = nullptr;
    HANDLE thread = nullptr;
    DWORD thread_id = 0;
    int result = -1;

    static DWORD WINAPI Run(void* param) {
        auto* worker = static_cast<Worker*>(param);
        if (worker->configure != nullptr) { worker->result = worker->configure(); }
        return 0;
    }
};

ConfigureCall::ConfigureCall() : worker_(new Worker) {
    worker_->configure = Interface().configure;
    EXPECT_NE(worker_->configure, nullptr) << "the plug-in does not export configure";
    worker_->thread = ::CreateThread(nullptr, 0, &Worker::Run, worker_, 0, &worker_->thread_id);
    EXPECT_NE(worker_->thread, nullptr) << "CreateThread failed, error " << ::GetLastError();
}

ConfigureCall::~ConfigureCall() {
    if (worker_->thread == nullptr) {
        delete worker_;
        return;
    }
    // A test that failed half-way leaves the dialog or a message box open: close them all.
    PumpUntil(
        [&] {
            if (finished()) { return true; }
            ::EnumThreadWindows(worker_->thread_id, PostOkToDialogs, 0);
            ::Sleep(20);
            return finished();
        },
        kWindowTimeoutMs);
    if (!finished()) {
        ADD_FAILURE() << "configure did not return although its windows were asked to close";
        return;  // the worker still uses its state: leave it
    }
    ::CloseHandle(worker_->thread);
    delete worker_;
}

DWORD ConfigureCall::thread_id() const { return worker_->thread_id; }

bool ConfigureCall::finished() const {
    return worker_->thread != nullptr && ::WaitForSingleObject(worker_->thread, 0) == WAIT_OBJECT_0;
}

bool ConfigureCall::WaitFinished(DWORD timeout_ms) {
    return PumpUntil([&] { return finished(); }, timeout_ms);
}

int ConfigureCall::result() const { return worker_->result; }

HWND ConfigureCall::FindDialog(const std::wstring& title) const {
    DialogSearch search{&title, nullptr};
    ::EnumThreadWindows(worker_->thread_id, FindDialogByTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ConfigureCall::WaitForVisibleDialog(const std::wstring& title, DWORD timeout_ms) const {
    HWND found = nullptr;
    PumpUntil(
        [&] {
            found = FindDialog(title);
            return found != nullptr && ::IsWindowVisible(found);
        },
        timeout_ms);
    return found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
}

std::wstring WindowText(HWND window) {
    LRESULT length = 0;
    if (!Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) { return L"<no answer to WM_GETTEXTLENGTH>"; }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) {
        return L"<no answer to WM_GETTEXT>";
    }
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::vector<std::wstring> StaticTexts(HWND window) {
    std::vector<HWND> statics;
    ::EnumChildWindows(window, CollectStatics, reinterpret_cast<LPARAM>(&statics));
    std::vector<std::wstring> texts;
    for (HWND child : statics) { texts.push_back(WindowText(child)); }
    return texts;
}

std::vector<std::wstring> ListEntries(HWND list) {
    std::vector<std::wstring> entries;
    LRESULT count = 0;
    if (!Send(list, LB_GETCOUNT, 0, 0, &count) || count < 0) {
        ADD_FAILURE() << "LB_GETCOUNT: no answer or error " << count;
        return entries;
    }
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!Send(list, LB_GETTEXTLEN, i, 0, &length) || length < 0) {
            ADD_FAILURE() << "LB_GETTEXTLEN of entry " << i << ": no answer or error " << length;
            return entries;
        }
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        LRESULT copied = 0;
        if (!Send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), &copied) || copied != length) {
            ADD_FAILURE() << "LB_GETTEXT of entry " << i << " gave " << copied << " characters, expected " << length;
            return entries;
        }
        text.resize(static_cast<std::size_t>(length));
        entries.push_back(std::move(text));
    }
    return entries;
}

void PressKey(DWORD worker_thread, HWND fallback, UINT virtual_key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = fallback;
    if (::GetGUIThreadInfo(worker_thread, &info) && info.hwndFocus != nullptr) { target = info.hwndFocus; }
    // lParam: repeat count 1 and the scan code; a key-up also has the previous-state and
    // transition bits (30 and 31).
    const DWORD down = 1u | (::MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC) << 16);
    ::PostMessageW(target, WM_KEYDOWN, virtual_key, static_cast<LPARAM>(down));
    ::PostMessageW(target, WM_KEYUP, virtual_key, static_cast<LPARAM>(down | 0xC0000000u));
}

}  // namespace vorkast::test
