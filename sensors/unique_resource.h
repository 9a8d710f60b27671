// One small owner per kind of Windows resource, released in its destructor: a kernel handle
// whose "none" is null, a handle whose "none" is INVALID_HANDLE_VALUE (CreateFile's), and a
// mapped view. The kinds differ only in their invalid value and how they are released.
#pragma once

#include <windows.h>

namespace vorkast {

template <typename Traits>
class unique_resource {
public:
    using pointer = typename Traits::pointer;

    unique_resource() noexcept = default;
    explicit unique_resource(pointer value) noexcept : value_(value) {}
    ~unique_resource() { reset(); }
    unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) { reset(other.release()); }
        return *this;
    }
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    // Gives the resource to the caller, who then releases it.
    pointer release() noexcept {
        const pointer value = value_;
        value_ = Traits::invalid();
        return value;
    }
    // Releases what is held (if anything) and takes `value`.
    void reset(pointer value = Traits::invalid()) noexcept {
        if (value_ != Traits::invalid()) { Traits::close(value_); }
        value_ = value;
    }

private:
    pointer value_ = Traits::invalid();
};

struct handle_null_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};

struct handle_invalid_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};

struct view_traits {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer base) noexcept { ::UnmapViewOfFile(base); }
};

// Section, event, process and thread handles: null when there is none.
using unique_handle = unique_resource<handle_null_traits>;
// File handles from CreateFile: INVALID_HANDLE_VALUE when there is none.
using unique_hfile = unique_resource<handle_invalid_traits>;
// A view from MapViewOfFile.
using unique_view = unique_resource<view_traits>;

}  // namespace vorkast
