#include "tests/support/child_process.h"

#include "tests/support/plugin_fixture.h"

#include <chrono>
#include <stdexcept>

namespace vorkast::test {
namespace {

// One argument quoted the way the C runtime splits a command line.
std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) { return argument; }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') { backslashes = backslashes * 2 + 1; }
        quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string BesideTest(const std::string& program) {
    if (program.find_first_of("\\/:") != std::string::npos) { return program; }
    return ProgramBeside(program);
}

void MakePipe(HANDLE* parent_end, HANDLE* child_end, bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) { throw std::runtime_error("CreatePipe failed"); }
    *parent_end = child_reads ? write : read;
    *child_end = child_reads ? read : write;
    ::SetHandleInformation(*parent_end, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    const std::string path = BesideTest(program);
    std::string command_line = Quote(path);
    for (const std::string& a : arguments) { command_line += " " + Quote(a); }

    HANDLE child_in = nullptr, child_out = nullptr, child_err = nullptr;
    MakePipe(&stdin_write_, &child_in, true);
    MakePipe(&out_.read, &child_out, false);
    MakePipe(&err_.read, &child_err, false);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = child_err;
    PROCESS_INFORMATION info{};
    // Wine answers ERROR_INTERNAL_ERROR when the new process's loader could not be started in
    // time (seen on a machine loaded by parallel builds); nothing of the child ran then, so a
    // second try starts the same program afresh. Any other error is the test's to report.
    BOOL started = FALSE;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) { ::Sleep(200); }
        started = ::CreateProcessA(path.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
        error = ::GetLastError();
        if (started || error != ERROR_INTERNAL_ERROR) { break; }
    }
    // The child holds its own ends now; ours must go, or the pipes never report their end.
    ::CloseHandle(child_in);
    ::CloseHandle(child_out);
    ::CloseHandle(child_err);
    if (!started) {
        ::CloseHandle(stdin_write_);
        ::CloseHandle(out_.read);
        ::CloseHandle(err_.read);
        throw std::runtime_error("cannot start " + command_line + " (error " + std::to_string(error) + ")");
    }
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    out_.reader = std::thread([this] { Drain(&out_); });
    err_.reader = std::thread([this] { Drain(&err_); });
}

ChildProcess::~ChildProcess() {
    CloseStdin();
    if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) { Terminate(); }
    // Once the process has gone the readers take what is left in the pipes and stop.
    out_.reader.join();
    err_.reader.join();
    ::CloseHandle(out_.read);
    ::CloseHandle(err_.read);
    ::CloseHandle(process_);
}

// Reads until the process has ended and its pipe is empty. Not until the pipe's end: a process
// that the tool starts may hold the tool's pipe open long after it (Wine starts its desktop
// process, which outlives everyone, from the first program that makes a window, and hands it
// that program's standard error).
void ChildProcess::Drain(Stream* stream) {
    char buffer[4096];
    for (;;) {
        const bool exited = ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        DWORD available = 0;
        if (!::PeekNamedPipe(stream->read, nullptr, 0, nullptr, &available, nullptr)) { break; }  // ended
        if (available == 0) {
            if (exited) { break; }  // everything it wrote is in the pipe by now
            ::WaitForSingleObject(process_, 10);
            continue;
        }
        DWORD n = 0;
        if (!::ReadFile(stream->read, buffer, available < sizeof buffer ? available : sizeof buffer, &n, nullptr) ||
            n == 0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        stream->data.append(buffer, n);
        changed_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stream->ended = true;
    changed_.notify_all();
}

bool ChildProcess::ReadLine(std::string* line, DWORD timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t end = std::string::npos;
    const bool ready = changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        end = out_.data.find('\n', consumed_);
        return end != std::string::npos || out_.ended;
    });
    if (!ready || end == std::string::npos) { return false; }
    *line = out_.data.substr(consumed_, end - consumed_);
    if (!line->empty() && line->back() == '\r') { line->pop_back(); }
    consumed_ = end + 1;
    return true;
}

bool ChildProcess::WaitForLine(const std::string& text, DWORD timeout_ms, std::string* found) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    std::string line;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) { return false; }
        if (!ReadLine(&line, static_cast<DWORD>(deadline - now))) { return false; }
        if (line.find(text) != std::string::npos) {
            if (found != nullptr) { *found = line; }
            return true;
        }
    }
}

std::string ChildProcess::NextLine(DWORD timeout_ms) {
    std::string line;
    if (!ReadLine(&line, timeout_ms)) {
        throw std::runtime_error("no line from the child in time; it printed \"" + Output() + "\" and on errors \"" +
                                 Errors() + "\"");
    }
    return line;
}

void ChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    if (stdin_write_ == nullptr ||
        !::WriteFile(stdin_write_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        throw std::runtime_error("cannot write to the child");
    }
}

void ChildProcess::CloseStdin() {
    if (stdin_write_ != nullptr) {
        ::CloseHandle(stdin_write_);
        stdin_write_ = nullptr;
    }
}

bool ChildProcess::Wait(DWORD timeout_ms, DWORD* exit_code) {
    if (::WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) { return false; }
    ::GetExitCodeProcess(process_, exit_code);
    // Let the readers take the last of the output.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return out_.ended && err_.ended; });
    return true;
}

void ChildProcess::Terminate() {
    ::TerminateProcess(process_, 0xDEAD);
    ::WaitForSingleObject(process_, 10000);
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_.data;
}

std::string ChildProcess::Errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_.data;
}

}  // namespace vorkast::test
