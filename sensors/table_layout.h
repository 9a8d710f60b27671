// Layout of the "VorkastSensors" shared-memory table that the sensor program publishes.
//
// The section starts with an 8-byte header followed by `count` records of 696 bytes each;
// record i (0-based) begins at byte 8 + 696 * i and holds sensor number i + 1.
// All integers are little-endian; the value is a 32-bit process's 16-byte VARIANT.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorkast {

// Name of the section, in the reader's own (local) object namespace.
inline constexpr char kSensorTableName[] = "VorkastSensors";

// The only layout version that the readers accept.
inline constexpr std::uint32_t kSensorTableVersion = 1;

// The name field holds the name and its zero terminator: at most 321 code units of text.
inline constexpr std::size_t kSensorNameUnits = 322;

// A sensor's value as stored: a 32-bit process's 16-byte VARIANT (type tag in the first two
// bytes, by-value data in bytes 8 to 15, a DECIMAL over all 16). The same bytes are the start of
// a 64-bit process's 24-byte VARIANT, so by-value variants move between the two by copying them.
struct alignas(8) StoredVariant {
    unsigned char bytes[16];
};

// The type tag of a stored value.
inline VARTYPE StoredType(const StoredVariant& stored) {
    VARTYPE type;
    std::memcpy(&type, stored.bytes, sizeof type);
    return type;
}

// Stored types whose data lie wholly inside the 16 stored bytes. Anything else (a string, an
// array, an interface, a record, anything by reference, an unknown tag) would point into the
// writer's address space and must never be followed by a reader.
constexpr bool IsByValueType(VARTYPE type) {
    switch (type) {
        case VT_EMPTY: case VT_NULL:
        case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
        case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
        case VT_ERROR: case VT_BOOL: case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

// A stored DECIMAL whose scale is above 28 or whose sign byte holds more than the sign is no
// number. The platform's conversions to numbers refuse one (E_INVALIDARG), but its conversion
// to text does not check and, with a large scale, writes past its own buffer; so readers must
// refuse it before converting.
inline bool IsWellFormedDecimal(const StoredVariant& stored) {
    DECIMAL d;
    std::memcpy(&d, stored.bytes, sizeof d);
    return d.scale <= 28 && (d.sign & ~DECIMAL_NEG) == 0;
}

// What a reader may do with a stored value. Only a by-value type is turned into a VARIANT and
// converted; a well-formed DECIMAL is a by-value type too, a malformed one is no number.
enum class StoredValueKind {
    convertible,        // copy it into a VARIANT and convert it
    refers_to_memory,   // its data would lie in the writer's address space: never followed
    malformed_decimal,  // refused with E_INVALIDARG, as the platform refuses it elsewhere
};

inline StoredValueKind ClassifyStoredValue(const StoredVariant& stored) {
    const VARTYPE type = StoredType(stored);
    if (!IsByValueType(type)) { return StoredValueKind::refers_to_memory; }
    if (type == VT_DECIMAL && !IsWellFormedDecimal(stored)) { return StoredValueKind::malformed_decimal; }
    return StoredValueKind::convertible;
}

// The stored bytes of a by-value variant: its first 16 bytes.
inline StoredVariant StoreVariant(const VARIANT& value) {
    StoredVariant stored{};
    std::memcpy(stored.bytes, &value, sizeof stored.bytes);
    return stored;
}

// A native VARIANT holding the stored bytes (the rest of a 64-bit VARIANT empty). Only for a
// value that ClassifyStoredValue calls convertible may the result be given to the platform.
inline VARIANT LoadStoredVariant(const StoredVariant& stored) {
    VARIANT value;
    ::VariantInit(&value);
    std::memcpy(&value, stored.bytes, sizeof stored.bytes);
    return value;
}

// A value read by number reaches the first 127 records only (sensor numbers 1 to 127), whatever
// the header's count says; the name search and the dialog go through every counted record.
inline constexpr std::size_t kRecordsReadByNumber = 127;

// Values written to a record's busy word: 1 while the writer changes the value.
inline constexpr std::int32_t kRecordBusy = 1;
inline constexpr std::int32_t kRecordIdle = 0;

struct SensorTableHeader {
    std::uint32_t version;
    std::uint16_t count;     // records that follow, 0 to 65535
    std::uint16_t reserved;  // not read
};

struct SensorRecord {
    WCHAR name[kSensorNameUnits];  // UTF-16LE, ended by a zero code unit
    std::int32_t busy;             // kRecordBusy while the writer changes `value`
    std::uint8_t reserved1[8];
    StoredVariant value;           // the sensor's current value
    std::uint8_t reserved2[24];
};

static_assert(sizeof(WCHAR) == 2, "names are UTF-16 code units");
static_assert(sizeof(StoredVariant) == 16, "the table stores a 32-bit process's VARIANT");
static_assert(sizeof(VARIANT) >= sizeof(StoredVariant), "a stored value fits a native VARIANT");
static_assert(sizeof(SensorTableHeader) == 8, "header is 8 bytes");
static_assert(offsetof(SensorTableHeader, version) == 0, "version at 0");
static_assert(offsetof(SensorTableHeader, count) == 4, "count at 4");
static_assert(sizeof(SensorRecord) == 696, "records are 696 bytes");
static_assert(offsetof(SensorRecord, name) == 0, "name at 0");
static_assert(offsetof(SensorRecord, busy) == 644, "busy word at 644");
static_assert(offsetof(SensorRecord, value) == 656, "value at 656");

inline constexpr std::size_t kSensorTableHeaderSize = sizeof(SensorTableHeader);
inline constexpr std::size_t kSensorRecordSize = sizeof(SensorRecord);

// Byte offset of record `index` (0-based) from the start of the section.
constexpr std::size_t SensorRecordOffset(std::size_t index) {
    return kSensorTableHeaderSize + kSensorRecordSize * index;
}

// Records that lie wholly inside the first `section_bytes` bytes of a section: what a reader
// may read, whatever the header's count claims.
constexpr std::size_t WholeRecords(std::size_t section_bytes) {
    return section_bytes < kSensorTableHeaderSize ? 0 : (section_bytes - kSensorTableHeaderSize) / kSensorRecordSize;
}

// Least section size that holds `count` records.
constexpr std::size_t SensorTableSize(std::size_t count) {
    return SensorRecordOffset(count);
}

}  // namespace vorkast
