// The tools as separate processes (each a ChildProcess): run to their end, the publisher
// started and awaited, sensor files on disk, and whether a table is published.
#pragma once

#include "tests/support/child_process.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace vorkast::test {

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
std::unique_ptr<ChildProcess> StartPublisher(const std::vector<std::string>& arguments, std::string* log,
                                            DWORD timeout_ms = 20000);

// True while a "VorkastSensors" table is published in this session.
bool TablePublished();

// Waits (bounded) until no table is published: a publisher that has just ended may still be
// releasing its section.
bool WaitForNoTable(DWORD timeout_ms);

}  // namespace vorkast::test
