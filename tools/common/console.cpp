#include "tools/common/console.h"

#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace vorkast::tools {
namespace {

HANDLE StreamHandle(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode);
}

void WriteConsoleText(HANDLE console, std::wstring_view text) {
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(text.size() > 8192 ? 8192 : text.size());
        DWORD written = 0;
        if (!::WriteConsoleW(console, text.data(), chunk, &written, nullptr) || written == 0) { return; }
        text.remove_prefix(written);
    }
}

std::wstring Widen(UINT code_page, DWORD flags, std::string_view text, bool* ok) {
    *ok = true;
    if (text.empty()) { return {}; }
    const int n = ::MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    if (n <= 0) {
        *ok = false;
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The one stop signal of the process, reached from the console control handler (which runs on
// a thread of its own).
std::atomic<StopSignal*> g_signal{nullptr};
std::atomic<const char*> g_reason{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
    StopSignal* signal = g_signal.load();
    if (signal == nullptr) { return FALSE; }
    signal->Trigger(type == CTRL_C_EVENT       ? "Ctrl+C"
                    : type == CTRL_BREAK_EVENT ? "Ctrl+Break"
                                               : "the console closing");
    // For a closing console the process ends when this handler returns: give the main thread a
    // moment to release the table first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        ::Sleep(2000);
    }
    return TRUE;
}

}  // namespace

void WriteAnsi(std::FILE* stream, std::string_view text) {
    const HANDLE handle = StreamHandle(stream);
    if (IsConsole(handle)) {
        std::fflush(stream);
        bool ok = false;
        WriteConsoleText(handle, Widen(CP_ACP, 0, text, &ok));
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

void WriteWide(std::FILE* stream, std::wstring_view text) {
    const HANDLE handle = StreamHandle(stream);
    if (IsConsole(handle)) {
        std::fflush(stream);
        WriteConsoleText(handle, text);
        return;
    }
    const std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) { return {}; }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    if (n <= 0) { return {}; }
    std::string bytes(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                          nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8OrAnsi(std::string_view text) {
    bool ok = false;
    std::wstring wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text, &ok);
    if (ok) { return wide; }
    return Widen(CP_ACP, 0, text, &ok);
}

bool ParseUnsigned(const char* text, unsigned long long max, unsigned long long* value) {
    if (text == nullptr || *text < '0' || *text > '9') { return false; }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno == ERANGE || *end != '\0' || v > max) { return false; }
    *value = v;
    return true;
}

StopSignal::StopSignal() : event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    g_signal.store(this);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignal::~StopSignal() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_signal.store(nullptr);
    ::CloseHandle(event_);
}

void StopSignal::Trigger(const char* reason) {
    const char* expected = nullptr;
    g_reason.compare_exchange_strong(expected, reason);
    ::SetEvent(event_);
}

namespace {

DWORD WINAPI WatchInput(void* parameter) {
    auto* stop = static_cast<StopSignal*>(parameter);
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    char buffer[512];
    DWORD n = 0;
    while (::ReadFile(input, buffer, sizeof buffer, &n, nullptr) && n > 0) {}
    stop->Trigger("end of standard input");
    return 0;
}

}  // namespace

bool HasStandardInput() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    return input != nullptr && input != INVALID_HANDLE_VALUE;
}

void StopAtEndOfInput(StopSignal* stop) {
    if (!HasStandardInput()) { return; }
    const HANDLE thread = ::CreateThread(nullptr, 0, WatchInput, stop, 0, nullptr);
    if (thread != nullptr) { ::CloseHandle(thread); }
}

const char* StopSignal::reason() const {
    const char* r = g_reason.load();
    return r != nullptr ? r : "";
}

}  // namespace vorkast::tools
