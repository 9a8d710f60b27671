// Publishes a "VorkastSensors" table the way the sensor program does: it creates the section,
// keeps it open, and changes values under the record's busy word. Used by the tests, the
// benchmark and the table publisher tool; never linked into the plug-in.
#pragma once

#include "sensors/table_layout.h"
#include "sensors/unique_resource.h"

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorkast {

class SensorTableWriter {
public:
    // Creates the section with room for `capacity` records, or exactly `section_bytes` bytes
    // when that is not 0 (smaller or larger than the records need, to reproduce odd tables).
    // The header starts as version 1, count 0. Throws std::system_error when the section
    // cannot be created or mapped, or when a table of that name is already published.
    explicit SensorTableWriter(std::size_t capacity, std::size_t section_bytes = 0);
    ~SensorTableWriter() = default;  // unmaps, then closes: the table disappears with its last user

    SensorTableWriter(const SensorTableWriter&) = delete;
    SensorTableWriter& operator=(const SensorTableWriter&) = delete;

    std::size_t size() const { return size_; }
    // Records that lie wholly inside the section.
    std::size_t capacity() const;

    SensorTableHeader& header() { return *reinterpret_cast<SensorTableHeader*>(base()); }
    SensorRecord& record(std::size_t index);

    void set_version(std::uint32_t version) { header().version = version; }
    void set_count(std::uint16_t count) { header().count = count; }

    // Stores `name` and its terminator; a longer name than the field holds is cut to 321 units.
    void set_name(std::size_t index, std::wstring_view name);
    // Stores exactly these code units (up to the field's 322), with no terminator added.
    void set_name_units(std::size_t index, const WCHAR* units, std::size_t length);

    // Changes a value under the busy protocol: busy word 1, the 16 bytes, busy word 0.
    // `value` must be a by-value variant (its data inside its first 16 bytes).
    void set_value(std::size_t index, const VARIANT& value);
    // The same with raw stored bytes (any type tag, pointer-typed ones included).
    void set_stored_value(std::size_t index, const StoredVariant& value);

    // Sets the busy word alone (tests of a writer caught mid-update).
    void set_busy(std::size_t index, std::int32_t busy);

    // Convenience: version 1, then names and values of records 0.. in order, then the count.
    struct Sensor {
        std::wstring_view name;
        VARIANT value;
    };
    void publish(const Sensor* sensors, std::size_t n);

private:
    unsigned char* base() const { return static_cast<unsigned char*>(view_.get()); }

    unique_handle section_;
    unique_view view_;
    std::size_t size_ = 0;
};

// Variant helpers for tests and tools.
VARIANT MakeI4(LONG v);
VARIANT MakeR8(double v);
VARIANT MakeBool(bool v);

}  // namespace vorkast
