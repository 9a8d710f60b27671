// The file a capture or recording goes to: each write flushed at once, so that the file is
// complete after each sample; every failure thrown with the file's name.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vorkast::tools {

class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) { Fail(); }
    }
    ~OutputFile() {
        if (file_ != nullptr) { std::fclose(file_); }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) { Fail(); }
    }
    void Close() {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) { Fail(); }
    }

private:
    [[noreturn]] void Fail() const { throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno)); }

    std::string path_;
    std::FILE* file_;
};

}  // namespace vorkast::tools
