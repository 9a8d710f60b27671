// Read-only access to the published sensor table for the length of one call.
//
// SensorSection is the one place that opens, maps, unmaps and closes the table: every reader
// (value read, name search, dialog fill) takes one on its stack and lets the destructor
// release the view and then the handle, on every path, including while an exception passes.
#pragma once

#include "sensors/table_layout.h"
#include "sensors/unique_resource.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace vorkast {

class SensorSection {
public:
    enum class State {
        open,        // handle and view held
        no_section,  // "VorkastSensors" could not be opened
        no_view,     // the section exists but could not be mapped
    };

    // Opens "VorkastSensors" with FILE_MAP_READ (not inheritable) and maps all of it.
    SensorSection();
    // Unmaps the view, then closes the handle.
    ~SensorSection();

    SensorSection(const SensorSection&) = delete;
    SensorSection& operator=(const SensorSection&) = delete;

    State state() const { return state_; }
    bool is_open() const { return state_ == State::open; }

    // Bytes of the view that can be read from its start. A table whose count claims more
    // records than this holds is cut here: readers never look past it.
    std::size_t readable_size() const { return readable_; }
    // Records that lie wholly inside the readable view (fixed once the view is mapped).
    std::size_t whole_records() const { return whole_records_; }

    // Header fields, fetched anew from the shared view on every call (the writer may change
    // them at any moment). Only valid while is_open() and the header lies inside the view.
    bool has_header() const { return readable_ >= kSensorTableHeaderSize; }
    std::uint32_t version() const { return reinterpret_cast<const volatile SensorTableHeader*>(base())->version; }
    std::uint16_t count() const { return reinterpret_cast<const volatile SensorTableHeader*>(base())->count; }

    // Record `index` (0-based) if it lies wholly inside the readable view, otherwise null.
    // Inline and without a division: the name search and the dialog call it for every record.
    const SensorRecord* record(std::size_t index) const {
        if (index >= whole_records_) { return nullptr; }  // also every index while not open
        return reinterpret_cast<const SensorRecord*>(base() + SensorRecordOffset(index));
    }

    const unsigned char* base() const { return static_cast<const unsigned char*>(view_.get()); }

private:
    unique_handle handle_;
    unique_view view_;
    std::size_t readable_ = 0;
    std::size_t whole_records_ = 0;
    State state_ = State::no_section;
};

}  // namespace vorkast
