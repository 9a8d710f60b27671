#include "sensors/reader.h"

#include "sensors/section.h"
#include "sensors/stable_copy.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace vorkast {
namespace {

// A name query as the code units that a matching record name holds.
//
// A record's name matches when, converting each code unit up to 0xFF to the byte of the same
// value (a higher unit never matches) and ending at its terminator or after 255 bytes, it equals
// the query. So a query of L < 255 bytes matches exactly the names whose units 0..L-1 are its
// bytes and whose unit L is the terminator; one of 255 bytes the names whose first 255 units are
// its bytes; a longer one nothing. The query is turned into those units once, and each record's
// name is compared with them 8 units (16 bytes) at a time, left at the first 8 that differ: on a
// table whose names share a long prefix that is one or two comparisons per record. Units past
// those that take part are loaded with their 8 (they lie inside the record's name field) but
// never counted: nothing behind a name's terminator can change the answer, since the terminator
// itself differs from the query's byte at its place or ends the units compared.
class NameQuery {
public:
    explicit NameQuery(const char* query) noexcept {
        const auto* bytes = reinterpret_cast<const unsigned char*>(query);
        std::size_t length = 0;
        while (length <= kMaxNameBytes && bytes[length] != 0) { ++length; }
        if (length > kMaxNameBytes) { return; }  // no converted name is that long: nothing matches
        const std::size_t compared = length < kMaxNameBytes ? length + 1 : kMaxNameBytes;  // with the terminator
        for (std::size_t k = 0; k < length; ++k) { units_[k] = bytes[k]; }  // units_[length] stays 0
        chunks_ = (compared + kChunkUnits - 1) / kChunkUnits;
        for (std::size_t c = 0; c < chunks_; ++c) {
            const std::size_t in_chunk = std::min(compared - c * kChunkUnits, kChunkUnits);
            needed_[c] = static_cast<unsigned>((1u << (2 * in_chunk)) - 1);  // two mask bits per unit
        }
        first_units_ = LoadChunk(units_);
    }

    // Whether the record's name, as it stands in the view now, matches.
    bool matches(const SensorRecord& record) const noexcept {
        const auto* name = reinterpret_cast<const unsigned char*>(record.name);
        if (!ChunkEqual(LoadChunk(name), first_units_, needed_[0])) { return false; }
        for (std::size_t c = 1; c < chunks_; ++c) {
            if (!ChunkEqual(LoadChunk(name + c * kChunkBytes), LoadChunk(units_ + c * kChunkUnits), needed_[c])) {
                return false;
            }
        }
        return chunks_ != 0;
    }

private:
    static constexpr std::size_t kMaxNameBytes = 255;  // bytes of a converted name that take part
    static constexpr std::size_t kChunkBytes = 16;
    static constexpr std::size_t kChunkUnits = kChunkBytes / sizeof(WCHAR);
    static constexpr std::size_t kMaxChunks = (kMaxNameBytes + kChunkUnits - 1) / kChunkUnits;
    static_assert(kMaxChunks * kChunkUnits <= kSensorNameUnits, "every chunk loaded lies inside the name field");

    static __m128i LoadChunk(const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); }
    // Whether the units whose mask bits are in `needed` are equal in both chunks.
    static bool ChunkEqual(__m128i name, __m128i units, unsigned needed) {
        const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(name, units)));
        return (equal & needed) == needed;
    }

    WCHAR units_[kMaxChunks * kChunkUnits] = {};
    unsigned needed_[kMaxChunks] = {};  // 0 in the first chunk when nothing can match
    std::size_t chunks_ = 0;            // chunks holding units that take part; 0: nothing matches
    __m128i first_units_ = _mm_setzero_si128();
};

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
    const NameQuery wanted(query);
    const SensorSection section;
    if (!section.is_open() || !section.has_header() || section.version() != kSensorTableVersion) {
        return 0;
    }
    // The count is read again before each further record: the writer may change it.
    for (std::size_t i = 0; i < section.count(); ++i) {
        const SensorRecord* record = section.record(i);
        if (record == nullptr) { return 0; }  // the rest of the table is not in the view
        if (wanted.matches(*record)) { return static_cast<std::uint16_t>(i + 1); }
    }
    return 0;
}

}  // namespace vorkast
