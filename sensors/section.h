// Read-only access to the published sensor table for the length of one call.
//
// SensorSection is the one place that opens, maps, unmaps and closes the table: every reader
// (value read, name search, dialog fill) takes one on its stack and lets the destructor
// release the view and then the handle, on every path, including while an exception passes.
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace vorkast {

// Owns a kernel handle; closed in the destructor.
class unique_handle {
public:
    unique_handle() = default;
    explicit unique_handle(HANDLE h) : handle_(h) {}
    ~unique_handle() { reset(); }
    unique_handle(unique_handle&& other) noexcept : handle_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) { reset(other.release()); }
        return *this;
    }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release() { HANDLE h = handle_; handle_ = nullptr; return h; }
    void reset(HANDLE h = nullptr) {
        if (handle_ != nullptr) { ::CloseHandle(handle_); }
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

// Owns a mapped view; unmapped in the destructor.
class unique_view {
public:
    unique_view() = default;
    explicit unique_view(void* base) : base_(base) {}
    ~unique_view() { reset(); }
    unique_view(unique_view&& other) noexcept : base_(other.release()) {}
    unique_view& operator=(unique_view&& other) noexcept {
        if (this != &other) { reset(other.release()); }
        return *this;
    }
    unique_view(const unique_view&) = delete;
    unique_view& operator=(const unique_view&) = delete;

    void* get() const { return base_; }
    explicit operator bool() const { return base_ != nullptr; }
    void* release() { void* b = base_; base_ = nullptr; return b; }
    void reset(void* base = nullptr) {
        if (base_ != nullptr) { ::UnmapViewOfFile(base_); }
        base_ = base;
    }

private:
    void* base_ = nullptr;
};

class SensorSection {
public:
    enum class State {
        open,        // handle and view held
        no_section,  // "VorkastSensors" could not be opened
        no_view,     // the section exists but could not be mapped
    };

    // Opens "VorkastSensors" with FILE_MAP_READ (not inheritable) and maps all of it.
    SensorSection();
    // Unmaps the view, then closes the handle (members are destroyed in reverse order).
    ~SensorSection() = default;

    SensorSection(const SensorSection&) = delete;
    SensorSection& operator=(const SensorSection&) = delete;

    State state() const { return state_; }
    bool is_open() const { return state_ == State::open; }

    // Bytes of the view that can be read from its start. A table whose count claims more
    // records than this holds is cut here: readers never look past it.
    std::size_t readable_size() const { return readable_; }

    // Header fields, fetched anew from the shared view on every call (the writer may change
    // them at any moment). Only valid while is_open() and the header lies inside the view.
    bool has_header() const { return readable_ >= kSensorTableHeaderSize; }
    std::uint32_t version() const;
    std::uint16_t count() const;

    // Record `index` (0-based) if it lies wholly inside the readable view, otherwise null.
    const SensorRecord* record(std::size_t index) const;

    const unsigned char* base() const { return static_cast<const unsigned char*>(view_.get()); }

private:
    // Declaration order matters: the view is released before the handle.
    unique_handle handle_;
    unique_view view_;
    std::size_t readable_ = 0;
    State state_ = State::no_section;
};

// Reads a record's busy word from the shared view; a fresh load on every call.
inline std::int32_t LoadBusyWord(const SensorRecord* record) {
    return *reinterpret_cast<const volatile std::int32_t*>(&record->busy);
}

}  // namespace vorkast
