#include "sensors/reader.h"

#include "sensors/section.h"

#include <atomic>
#include <cstring>

namespace vorkast {
namespace {

// One read of the record's 16 value bytes from the shared view, each word fetched once.
StoredVariant Snapshot(const SensorRecord* record) {
    const volatile std::uint32_t* words = reinterpret_cast<const volatile std::uint32_t*>(&record->value);
    std::uint32_t copy[4];
    for (int i = 0; i < 4; ++i) { copy[i] = words[i]; }
    StoredVariant stored;
    std::memcpy(stored.bytes, copy, sizeof stored.bytes);
    return stored;
}

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds bound)
        : end_(std::chrono::steady_clock::now() + bound) {}
    bool passed() const { return std::chrono::steady_clock::now() >= end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

// Spins while the busy word is set: a fresh load on every pass, the clock looked at only now
// and then so that the loop reacts at once when the writer clears the word. False when the
// word is still set at the deadline.
bool WaitWhileBusy(const SensorRecord* record, const Deadline& deadline) {
    for (unsigned spins = 1;; ++spins) {
        if (LoadBusyWord(record) != kRecordBusy) { return true; }
        if ((spins & 0x3FF) == 0 && deadline.passed()) { return false; }
    }
}

// A consistent copy of the record's value: taken while the busy word is clear, and taken again
// when the writer set the word during the copy. False when the writer stays busy too long.
bool ReadStableValue(const SensorRecord* record, StoredVariant& out) {
    const Deadline deadline(kBusyWaitBound);
    for (;;) {
        if (!WaitWhileBusy(record, deadline)) { return false; }
        std::atomic_thread_fence(std::memory_order_acquire);
        out = Snapshot(record);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (LoadBusyWord(record) != kRecordBusy) { return true; }
    }
}

scoped_variant TextValue(const char* message) {
    scoped_variant v;
    set_variant_text(v.get(), message);
    return v;
}

// The value of record `index`, or a message, read while `section` is open.
scoped_variant ReadFromSection(const SensorSection& section, std::size_t index) {
    if (!section.has_header()) { return TextValue(kCannotReadMessage); }
    if (section.version() != kSensorTableVersion) { return TextValue(kWrongVersionMessage); }
    // The count comes first, then the readable limit of 127 records; a record that does not lie
    // wholly inside the view counts as absent.
    const SensorRecord* record = index < section.count() && index < 127 ? section.record(index) : nullptr;
    if (record == nullptr) { return TextValue(kInvalidNumberMessage); }

    StoredVariant stored;
    if (!ReadStableValue(record, stored)) { return TextValue(kCannotReadMessage); }
    const VARTYPE type = StoredType(stored);
    if (!IsByValueType(type)) { return TextValue(kUnsupportedTypeMessage); }
    // Refused with the status the platform gives such a value elsewhere: it cannot become text.
    if (type == VT_DECIMAL && !IsWellFormedDecimal(stored)) { raise_status(E_INVALIDARG); }

    VARIANT source;
    ::VariantInit(&source);
    std::memcpy(&source, stored.bytes, sizeof stored.bytes);
    scoped_variant value;
    copy_variant(value.get(), &source);
    return value;
}

}  // namespace

scoped_variant ReadSensorValue(std::uint16_t number) {
    const std::size_t index = static_cast<std::uint16_t>(number - 1);
    scoped_variant local;
    {
        const SensorSection section;
        switch (section.state()) {
            case SensorSection::State::no_section: return TextValue(kNotRunningMessage);
            case SensorSection::State::no_view: return TextValue(kCannotReadMessage);
            case SensorSection::State::open: break;
        }
        local = ReadFromSection(section, index);
    }  // view unmapped, then handle closed, before the value leaves
    return local;
}

std::uint16_t FindSensorByName(const char* query) noexcept {
    const auto* wanted = reinterpret_cast<const unsigned char*>(query);
    const SensorSection section;
    if (!section.is_open() || !section.has_header() || section.version() != kSensorTableVersion) {
        return 0;
    }
    // The count is read again before each further record: the writer may change it.
    for (std::size_t i = 0; i < section.count(); ++i) {
        const SensorRecord* record = section.record(i);
        if (record == nullptr) { return 0; }  // the rest of the table is not in the view
        const volatile WCHAR* name = record->name;
        // Compare while converting: each code unit up to 0xFF is the byte of the same value; a
        // higher one never matches; at most 255 bytes of a name take part.
        for (std::size_t k = 0;; ++k) {
            if (k == 255) {
                if (wanted[k] == 0) { return static_cast<std::uint16_t>(i + 1); }
                break;
            }
            const WCHAR unit = name[k];
            if (unit > 0xFF || unit != wanted[k]) { break; }
            if (unit == 0) { return static_cast<std::uint16_t>(i + 1); }
        }
    }
    return 0;
}

}  // namespace vorkast
