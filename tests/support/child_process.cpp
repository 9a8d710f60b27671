#include "tests/support/child_process.h"

#include <stdexcept>
#include <vector>

namespace vorkast::test {

std::string ProgramBeside(const std::string& file_name) {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + file_name;
}

ChildProcess::ChildProcess(const std::string& command_line) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE stdin_read = nullptr;
    HANDLE stdout_write = nullptr;
    if (!::CreatePipe(&stdin_read, &stdin_write_, &inherit, 0) ||
        !::CreatePipe(&stdout_read_, &stdout_write, &inherit, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    ::SetHandleInformation(stdin_write_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(stdout_read_, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = stdin_read;
    startup.hStdOutput = stdout_write;
    startup.hStdError = stdout_write;
    PROCESS_INFORMATION info{};
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    const BOOL started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &info);
    ::CloseHandle(stdin_read);
    ::CloseHandle(stdout_write);
    if (!started) { throw std::runtime_error("cannot start " + command_line); }
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
}

ChildProcess::~ChildProcess() {
    close_stdin();
    if (::WaitForSingleObject(process_, 2000) != WAIT_OBJECT_0) { ::TerminateProcess(process_, 1); }
    ::WaitForSingleObject(process_, 2000);
    ::CloseHandle(process_);
    ::CloseHandle(stdout_read_);
}

void ChildProcess::write_line(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    if (!::WriteFile(stdin_write_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        throw std::runtime_error("cannot write to the child");
    }
}

std::string ChildProcess::read_line(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') { line.pop_back(); }
            return line;
        }
        DWORD available = 0;
        if (!::PeekNamedPipe(stdout_read_, nullptr, 0, nullptr, &available, nullptr)) {
            throw std::runtime_error("the child closed its output; read so far: \"" + pending_ + "\"");
        }
        if (available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (::ReadFile(stdout_read_, buffer, sizeof buffer < available ? sizeof buffer : available,
                           &got, nullptr)) {
                pending_.append(buffer, got);
            }
            continue;
        }
        if (std::chrono::steady_clock::now() >= end) {
            throw std::runtime_error("no line from the child in time; read so far: \"" + pending_ + "\"");
        }
        ::Sleep(1);
    }
}

void ChildProcess::close_stdin() {
    if (stdin_write_ != nullptr) {
        ::CloseHandle(stdin_write_);
        stdin_write_ = nullptr;
    }
}

DWORD ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        throw std::runtime_error("the child did not end in time");
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

}  // namespace vorkast::test
