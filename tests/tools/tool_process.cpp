#include "tests/tools/tool_process.h"

#include "sensors/section.h"

#include <stdexcept>

namespace vorkast::test {

ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments, DWORD timeout_ms) {
    ChildProcess tool(program, arguments);
    tool.CloseStdin();
    ToolResult result;
    result.finished = tool.Wait(timeout_ms, &result.exit_code);
    if (!result.finished) { tool.Terminate(); }
    result.out = tool.Output();
    result.err = tool.Errors();
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) { end = text.size(); }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') { line.pop_back(); }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

TempFile::TempFile(const std::string& contents) {
    char dir[MAX_PATH], name[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, "vks", 0, name);
    path_ = name;
    const HANDLE file = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) { throw std::runtime_error("cannot write " + path_); }
    DWORD written = 0;
    ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    ::CloseHandle(file);
}

TempFile::~TempFile() { ::DeleteFileA(path_.c_str()); }

std::unique_ptr<ChildProcess> StartPublisher(const std::vector<std::string>& arguments, std::string* log,
                                            DWORD timeout_ms) {
    auto publisher = std::make_unique<ChildProcess>("vorkast-publish.exe", arguments);
    if (publisher->WaitForLine("vorkast-publish: publishing", timeout_ms)) { return publisher; }
    publisher->Terminate();
    *log = publisher->Output() + publisher->Errors();
    return nullptr;
}

bool TablePublished() {
    const SensorSection section;
    return section.state() != SensorSection::State::no_section;
}

bool WaitForNoTable(DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    while (TablePublished()) {
        if (::GetTickCount64() >= deadline) { return false; }
        ::Sleep(20);
    }
    return true;
}

}  // namespace vorkast::test
