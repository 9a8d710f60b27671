#include "sensors/reader.h"

#include "sensors/section.h"
#include "sensors/stable_copy.h"

#include <cstring>

namespace vorkast {
namespace {

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
    const SensorRecord* record = index < section.count() && index < kRecordsReadByNumber ? section.record(index) : nullptr;
    if (record == nullptr) { return TextValue(kInvalidNumberMessage); }

    StoredVariant stored;
    if (!CopyWholeValue(SharedRecordWords(record), Deadline(kBusyWaitBound), stored)) {
        return TextValue(kCannotReadMessage);
    }
    switch (ClassifyStoredValue(stored)) {
        case StoredValueKind::refers_to_memory: return TextValue(kUnsupportedTypeMessage);
        // Refused with the status the platform gives such a value elsewhere: it cannot become text.
        case StoredValueKind::malformed_decimal: raise_status(E_INVALIDARG);
        case StoredValueKind::convertible: break;
    }
    const VARIANT source = LoadStoredVariant(stored);
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
