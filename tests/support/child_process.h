// A program started by a test (a helper writer, or one of the tools): pipes on its standard
// input, output and error, every wait bounded, and terminated if a test leaves it running.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorkast::test {

class ChildProcess {
public:
    // Starts `program` (a file name beside the test program, or a full path) with `arguments`.
    // Throws std::runtime_error when it cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Closes standard input and terminates the process if it is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next whole line of standard output (line end removed); false when none arrives within
    // `timeout_ms` or the output has ended.
    bool ReadLine(std::string* line, DWORD timeout_ms);
    // The same for a helper that must answer: throws std::runtime_error naming what it printed
    // so far when no line comes.
    std::string NextLine(DWORD timeout_ms = 10000);
    // Reads lines until one contains `text`; false on timeout or end of output.
    bool WaitForLine(const std::string& text, DWORD timeout_ms, std::string* line = nullptr);
    // Writes `line` and a line end to standard input; throws std::runtime_error when it cannot.
    void WriteLine(const std::string& line);
    void CloseStdin();
    // True with the exit code once the process has ended within `timeout_ms`.
    bool Wait(DWORD timeout_ms, DWORD* exit_code);
    void Terminate();

    std::string Output() const;  // everything read from standard output so far
    std::string Errors() const;  // everything read from standard error so far
    DWORD id() const { return id_; }

private:
    struct Stream {
        HANDLE read = nullptr;
        std::string data;
        bool ended = false;
        std::thread reader;
    };
    void Drain(Stream* stream);

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    HANDLE stdin_write_ = nullptr;
    Stream out_;
    Stream err_;
    std::size_t consumed_ = 0;  // of out_.data, by ReadLine
    mutable std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace vorkast::test
