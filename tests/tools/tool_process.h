// The tools as separate processes: started beside the test program with pipes on their
// standard input, output and error, every wait bounded, and terminated if a test leaves them
// running.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorkast::test {

class ToolProcess {
public:
    // Starts `program` (a file name beside the test program, or a full path) with `arguments`.
    // Throws std::runtime_error when it cannot be started.
    ToolProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Closes standard input and terminates the process if it is still running.
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // The next whole line of standard output (line end removed); false when none arrives within
    // `timeout_ms` or the output has ended.
    bool ReadLine(std::string* line, DWORD timeout_ms);
    // Reads lines until one contains `text`; false on timeout or end of output.
    bool WaitForLine(const std::string& text, DWORD timeout_ms, std::string* line = nullptr);
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

struct ToolResult {
    bool finished = false;  // false: still running after the timeout, then terminated
    DWORD exit_code = 0;
    std::string out;
    std::string err;
};

// Runs a tool to its end with standard input closed.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments,
                   DWORD timeout_ms = 30000);

// Text split into lines, "\r\n" or "\n" ends removed; no empty last line.
std::vector<std::string> Lines(const std::string& text);

// A file in the temporary folder holding `contents`, deleted with the object.
class TempFile {
public:
    explicit TempFile(const std::string& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Starts vorkast-publish with `arguments` and waits until it reports that it is publishing.
// Null when it does not within `timeout_ms`; what it printed is then in *log.
std::unique_ptr<ToolProcess> StartPublisher(const std::vector<std::string>& arguments, std::string* log,
                                            DWORD timeout_ms = 20000);

// True while a "VorkastSensors" table is published in this session.
bool TablePublished();

// Waits (bounded) until no table is published: a publisher that has just ended may still be
// releasing its section.
bool WaitForNoTable(DWORD timeout_ms);

}  // namespace vorkast::test
