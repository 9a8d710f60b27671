// A helper program started by a test, talked to through its standard input and output.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace vorkast::test {

class ChildProcess {
public:
    // Starts `command_line` with pipes on stdin and stdout (stderr goes to stdout).
    explicit ChildProcess(const std::string& command_line);
    // Closes stdin, waits a little for the child to end, then terminates it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write_line(const std::string& line);
    // The next line of output (without its line end), or throws std::runtime_error naming what
    // was read so far when none arrives within `timeout`.
    std::string read_line(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void close_stdin();
    // Exit code, or throws when the child has not ended within `timeout`.
    DWORD wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    HANDLE process_ = nullptr;
    HANDLE stdin_write_ = nullptr;
    HANDLE stdout_read_ = nullptr;
    std::string pending_;
};

// Full path of a program that sits beside the running test program.
std::string ProgramBeside(const std::string& file_name);

}  // namespace vorkast::test
