#include "tests/fuzz/table_fuzz.h"

#include "sensors/table_layout.h"
#include "sensors/table_writer.h"
#include "tests/dialog/dialog_driver.h"
#include "tests/support/messages.h"
#include "tests/support/plugin_fixture.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

namespace vorkast::test::fuzz {
namespace {

const char* const kFixedMessages[] = {kNotRunning,  kCannotRead,      kWrongVersion, kInvalidNumber,
                                      kUnsupported, kByNumberFailure, kByNameFailure};

constexpr int kSensorListId = 1001;
// Entries read back one by one from the list box up to this many; above it only their number.
constexpr std::size_t kComparedEntries = 400;
// Readable records: the value read gives numbers 1 to 127 only.
constexpr std::size_t kReadableRecords = 127;

// ---- Random numbers ---------------------------------------------------------------------------

std::uint64_t Mix(std::uint64_t x) {  // splitmix64
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t bits() { return engine_(); }
    // Uniform in [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return std::uniform_int_distribution<std::uint64_t>(low, high)(engine_);
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(engine_) < p; }
    // An index into `weights`, drawn in proportion to them.
    std::size_t pick(std::initializer_list<double> weights) {
        double total = 0;
        for (double w : weights) { total += w; }
        double x = std::uniform_real_distribution<double>(0, total)(engine_);
        std::size_t i = 0;
        for (double w : weights) {
            if (x < w) { return i; }
            x -= w;
            ++i;
        }
        return weights.size() - 1;
    }
    template <class T, std::size_t N>
    T one_of(const T (&items)[N]) { return items[between(0, N - 1)]; }

private:
    std::mt19937_64 engine_;
};

// What the watchdog and the crash report name: the case, and the step within it.
char g_current_case[160] = "none yet";
char g_current_step[400] = "";

// ---- Text helpers -----------------------------------------------------------------------------

std::string Printable(const std::wstring& text, std::size_t max = 80) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < max; ++i) {
        const unsigned c = text[i];
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\\x{%X}", c);
            out += hex;
        }
    }
    if (text.size() > max) { out += "...(" + std::to_string(text.size()) + " units)"; }
    return out + "\"";
}

std::string Printable(const std::string& text, std::size_t max = 80) {
    std::wstring wide;
    for (char c : text) { wide.push_back(static_cast<unsigned char>(c)); }
    return Printable(wide, max);
}

// ---- A table and the model of what the plug-in must make of it --------------------------------

bool IsByValueType(VARTYPE type) {
    switch (type) {
        case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
        case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_I1: case VT_UI1:
        case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
            return true;
        default:
            return false;
    }
}

struct Table {
    bool present = false;
    std::size_t section_bytes = 0;
    // What a reader's view of the section shows: the section's bytes, then zeros up to the end
    // of its last page (a view is mapped in whole pages).
    std::vector<unsigned char> image;

    std::size_t whole_records() const {
        return image.size() < kSensorTableHeaderSize ? 0 : (image.size() - kSensorTableHeaderSize) / kSensorRecordSize;
    }
    std::uint32_t version() const {
        std::uint32_t v = 0;
        if (image.size() >= kSensorTableHeaderSize) { std::memcpy(&v, image.data(), sizeof v); }
        return v;
    }
    std::uint16_t count() const {
        std::uint16_t c = 0;
        if (image.size() >= kSensorTableHeaderSize) { std::memcpy(&c, image.data() + 4, sizeof c); }
        return c;
    }
    // Records that a name search or the dialog goes through.
    std::size_t listed() const { return std::min<std::size_t>(count(), whole_records()); }
    SensorRecord record(std::size_t index) const {
        SensorRecord r;
        std::memcpy(&r, image.data() + SensorRecordOffset(index), sizeof r);
        return r;
    }
    std::wstring name(std::size_t index) const {  // up to the terminator or the field's end
        const SensorRecord r = record(index);
        std::size_t n = 0;
        while (n < kSensorNameUnits && r.name[n] != 0) { ++n; }
        return std::wstring(r.name, r.name + n);
    }
};

// The platform's text of a stored by-value variant, as the plug-in must answer it; `failure`
// when the platform cannot turn it into text.
std::string PlatformText(const StoredVariant& stored, const char* failure) {
    int at = std::snprintf(g_current_step, sizeof g_current_step, "the model's text of the stored bytes");
    for (unsigned char b : stored.bytes) { at += std::snprintf(g_current_step + at, sizeof g_current_step - at, " %02X", b); }
    VARIANT source;
    ::VariantInit(&source);
    std::memcpy(&source, stored.bytes, sizeof stored.bytes);
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, &source, 0, VT_BSTR))) { return failure; }
    std::string narrow;
    if (text.bstrVal != nullptr) {
        const int units = static_cast<int>(std::wcslen(text.bstrVal)) + 1;
        const int n = ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, units, nullptr, 0, nullptr, nullptr);
        if (n == 0) {
            ::VariantClear(&text);
            return failure;
        }
        std::vector<char> buffer(static_cast<std::size_t>(n));
        ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, units, buffer.data(), n, nullptr, nullptr);
        narrow = buffer.data();
    }
    ::VariantClear(&text);
    return narrow;
}

std::string ExpectRead(const Table& t, std::uint16_t number, const char* failure) {
    if (!t.present) { return kNotRunning; }
    if (t.version() != kSensorTableVersion) { return kWrongVersion; }
    const std::size_t index = static_cast<std::uint16_t>(number - 1);
    if (index >= t.count() || index >= kReadableRecords || index >= t.whole_records()) { return kInvalidNumber; }
    const SensorRecord r = t.record(index);
    if (r.busy == kRecordBusy) { return kCannotRead; }  // never cleared: the read gives up
    VARTYPE type;
    std::memcpy(&type, r.value.bytes, sizeof type);
    if (!IsByValueType(type)) { return kUnsupported; }
    if (type == VT_DECIMAL) {
        // Scale above 28 or stray sign bits: no number, refused as the platform's numeric
        // conversions refuse it (its conversion to text would not check).
        DECIMAL d;
        std::memcpy(&d, r.value.bytes, sizeof d);
        if (d.scale > 28 || (d.sign & ~DECIMAL_NEG) != 0) { return failure; }
    }
    return PlatformText(r.value, failure);
}

std::string ExpectByNumber(const Table& t, const std::string& parameter) {
    const auto number = static_cast<std::uint16_t>(std::atoi(parameter.c_str()));
    if (number == 0) { return kInvalidNumber; }
    return ExpectRead(t, number, kByNumberFailure);
}

// A record's name against a query: each code unit up to 0xFF stands for the byte of the same
// value, a higher one never matches, and at most 255 of them take part.
bool NameMatches(const SensorRecord& r, const std::string& query) {
    const auto* q = reinterpret_cast<const unsigned char*>(query.c_str());
    for (std::size_t k = 0;; ++k) {
        if (k == 255) { return q[k] == 0; }
        const unsigned unit = r.name[k];
        if (unit > 0xFF || unit != q[k]) { return false; }
        if (unit == 0) { return true; }
    }
}

std::string ExpectByName(const Table& t, const std::string& query) {
    if (!t.present || t.version() != kSensorTableVersion) { return kInvalidNumber; }
    for (std::size_t i = 0; i < t.listed(); ++i) {
        if (NameMatches(t.record(i), query)) { return ExpectRead(t, static_cast<std::uint16_t>(i + 1), kByNameFailure); }
    }
    return kInvalidNumber;
}

std::vector<std::wstring> ExpectedEntries(const Table& t) {
    std::vector<std::wstring> entries;
    for (std::size_t i = 0; i < t.listed(); ++i) { entries.push_back(std::to_wstring(i + 1) + L": " + t.name(i)); }
    return entries;
}

// ---- Generating a table -----------------------------------------------------------------------

constexpr VARTYPE kByValueTypes[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,  VT_R4,   VT_R8,  VT_CY,
                                     VT_DATE,  VT_ERROR, VT_BOOL, VT_I1, VT_UI1, VT_UI2, VT_UI4,
                                     VT_I8,    VT_UI8,  VT_INT, VT_UINT};
constexpr VARTYPE kPointerTypes[] = {
    VT_BSTR,           VT_DISPATCH,          VT_UNKNOWN,        VT_VARIANT | VT_BYREF, VT_I4 | VT_BYREF,
    VT_BSTR | VT_BYREF, VT_DECIMAL | VT_BYREF, VT_ARRAY | VT_I4, VT_ARRAY | VT_VARIANT, VT_ARRAY | VT_BSTR,
    VT_RECORD,         VT_LPSTR,             VT_LPWSTR,         VT_PTR,                VT_SAFEARRAY,
    VT_CARRAY,         VT_USERDEFINED,       VT_BLOB,           VT_STREAM,             VT_CLSID,
    VT_VECTOR | VT_I4, VT_VARIANT,           VT_VOID,           VT_HRESULT,            VT_FILETIME,
    VT_ARRAY | VT_BYREF | VT_I4};

void PutType(StoredVariant& v, VARTYPE type) { std::memcpy(v.bytes, &type, sizeof type); }

template <class T>
void PutData(StoredVariant& v, T data) {
    static_assert(sizeof(T) <= 8, "by-value data lies in bytes 8 to 15");
    std::memset(v.bytes + 8, 0, 8);
    std::memcpy(v.bytes + 8, &data, sizeof data);
}

// A by-value variant with data chosen at the edges of its type.
StoredVariant EdgeValue(Random& r) {
    StoredVariant v{};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    switch (r.between(0, 10)) {
        case 0: {
            const LONG values[] = {0, 1, -1, LONG_MIN, LONG_MAX, 47};
            PutType(v, VT_I4);
            PutData(v, r.one_of(values));
            break;
        }
        case 1: {
            const double values[] = {0.0, -0.0, 47.625, 1e308, -1e-308, 4.9e-324, nan, -nan, inf, -inf, 1e15, 123456789.123456789};
            PutType(v, VT_R8);
            PutData(v, r.one_of(values));
            break;
        }
        case 2: {
            const float values[] = {0.0f, -0.0f, 3.5f, 3.4e38f, 1.4e-45f, static_cast<float>(nan), static_cast<float>(inf)};
            PutType(v, VT_R4);
            PutData(v, r.one_of(values));
            break;
        }
        case 3: {
            // Day 0 is 30 Dec 1899; the platform's dates run from the year 100 to 9999.
            const double values[] = {0.0, 36526.5, -657434.0, 2958465.99999, -657435.0, 2958466.0, 3e6, -1e7, nan, inf, 45000.123456};
            PutType(v, VT_DATE);
            PutData(v, r.one_of(values));
            break;
        }
        case 4: {
            const LONGLONG values[] = {0, 1, -1, LLONG_MIN, LLONG_MAX, 123456789};
            PutType(v, VT_CY);
            PutData(v, r.one_of(values));
            break;
        }
        case 5: {
            const SHORT values[] = {0, -1, 1, 0x1234, SHRT_MIN};
            PutType(v, VT_BOOL);
            PutData(v, r.one_of(values));
            break;
        }
        case 6: {
            const LONGLONG values[] = {0, LLONG_MIN, LLONG_MAX, -1};
            PutType(v, r.chance(0.5) ? VT_I8 : VT_UI8);
            PutData(v, r.one_of(values));
            break;
        }
        case 7: {
            const LONG values[] = {0, static_cast<LONG>(0x80004005), static_cast<LONG>(0x8007000E), 1};
            PutType(v, VT_ERROR);
            PutData(v, r.one_of(values));
            break;
        }
        case 8: PutType(v, r.chance(0.5) ? VT_EMPTY : VT_NULL); break;
        case 9: {
            // A DECIMAL: scale 0 to 28 is valid, anything above is not; the sign byte is 0 or 0x80.
            DECIMAL d{};
            d.scale = static_cast<BYTE>(r.chance(0.8) ? r.between(0, 28) : r.between(29, 255));
            d.sign = static_cast<BYTE>(r.chance(0.8) ? (r.chance(0.5) ? 0 : DECIMAL_NEG) : r.between(0, 255));
            d.Hi32 = static_cast<ULONG>(r.chance(0.5) ? 0 : r.bits());
            d.Lo64 = r.chance(0.3) ? 0 : r.bits();
            std::memcpy(v.bytes, &d, sizeof v.bytes);
            PutType(v, VT_DECIMAL);
            break;
        }
        default: {
            const VARTYPE small[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_UI4, VT_INT, VT_UINT};
            PutType(v, r.one_of(small));
            PutData(v, r.bits());
            break;
        }
    }
    return v;
}

StoredVariant RandomValue(Random& r) {
    StoredVariant v;
    for (auto& b : v.bytes) { b = static_cast<unsigned char>(r.bits()); }
    switch (r.pick({45, 10, 8, 20, 17})) {
        case 0: PutType(v, r.one_of(kByValueTypes)); break;  // random data and reserved bytes
        case 1: v = EdgeValue(r); break;
        case 2: PutType(v, VT_DECIMAL); break;  // sixteen random bytes read as a DECIMAL
        case 3: {
            // A pointer into the writer's address space that must never be followed: null, small,
            // a pattern, or anything.
            PutType(v, r.one_of(kPointerTypes));
            const std::uint64_t pointers[] = {0, 0x10, 0xDEADBEEFDEADBEEFull, 0x00007FF000000000ull,
                                              0xFFFFFFFFFFFFFFFFull, r.bits()};
            PutData(v, r.one_of(pointers));
            break;
        }
        default: break;  // all sixteen bytes random, the type included
    }
    return v;
}

// A name field of 322 code units: what the writer leaves behind the terminator is random too.
void RandomName(Random& r, const SensorRecord* earlier, std::size_t earlier_count, WCHAR* field) {
    for (std::size_t i = 0; i < kSensorNameUnits; ++i) { field[i] = static_cast<WCHAR>(r.bits()); }
    auto fill = [&](std::size_t length, unsigned low, unsigned high) {
        for (std::size_t i = 0; i < length; ++i) { field[i] = static_cast<WCHAR>(r.between(low, high)); }
        if (length < kSensorNameUnits) { field[length] = 0; }
    };
    switch (r.pick({35, 15, 15, 10, 5, 10, 10})) {
        case 0: fill(r.between(0, 40), 0x20, 0x7E); break;                  // plain ASCII
        case 1: fill(r.between(0, 300), 0x01, 0xFF); break;                 // one byte per unit, long ones too
        case 2: fill(r.between(0, kSensorNameUnits - 1), 0x01, 0xFFFF); break;  // any unit, surrogates too
        case 3: {                                                            // no terminator in the field
            const unsigned high = r.one_of({0x7Eu, 0xFFu, 0xFFFFu});
            fill(kSensorNameUnits, high == 0x7E ? 0x20 : 0x01, high);
            break;
        }
        case 4: field[0] = 0; break;  // empty
        case 5:                       // the same name as an earlier record
            if (earlier_count != 0) {
                std::memcpy(field, earlier[r.between(0, earlier_count - 1)].name, sizeof(WCHAR) * kSensorNameUnits);
            } else {
                fill(r.between(1, 12), 0x41, 0x5A);
            }
            break;
        default: break;  // random units, zeros wherever they fall
    }
}

struct Generated {
    Table table;
    std::size_t stuck = SIZE_MAX;  // a record whose busy word is never cleared
};

Generated RandomTable(Random& r, std::size_t page, double stuck_chance) {
    Generated g;
    Table& t = g.table;
    t.present = !r.chance(0.03);
    if (!t.present) { return g; }

    // Records the section is made for, then its size: exact, whole pages (so that a read past
    // the end faults), cut inside a record, tiny, or larger than needed.
    std::size_t records = 0;
    switch (r.pick({10, 40, 35, 15})) {
        case 0: records = r.between(0, 3); break;
        case 1: records = r.between(1, 40); break;
        case 2: records = r.between(1, 200); break;
        default: records = r.between(1, 2000); break;
    }
    const std::size_t exact = SensorTableSize(records);
    std::size_t size = exact;
    switch (r.pick({40, 20, 25, 10, 5})) {
        case 0: break;
        case 1: size = std::max<std::size_t>(1, (exact + page - 1) / page - r.between(0, 1)) * page; break;
        case 2: size = exact > kSensorRecordSize ? exact - r.between(1, kSensorRecordSize - 1) : exact; break;
        case 3: size = r.between(1, 16); break;
        default: size = exact + r.between(1, 10000); break;
    }
    size = std::max<std::size_t>(size, 1);
    t.section_bytes = size;

    // Every record that starts inside the section is generated; the section keeps its first
    // `size` bytes of them.
    const std::size_t started = size <= kSensorTableHeaderSize
                                    ? 0
                                    : (size - kSensorTableHeaderSize + kSensorRecordSize - 1) / kSensorRecordSize;
    std::vector<SensorRecord> generated(started);
    for (std::size_t i = 0; i < started; ++i) {
        SensorRecord& rec = generated[i];
        auto* raw = reinterpret_cast<unsigned char*>(&rec);
        for (std::size_t b = 0; b < sizeof rec; ++b) { raw[b] = static_cast<unsigned char>(r.bits()); }
        RandomName(r, generated.data(), i, rec.name);
        rec.busy = r.chance(0.92) ? 0 : static_cast<std::int32_t>(r.bits() | 2);  // anything but 1
        rec.value = RandomValue(r);
    }

    const std::size_t readable = (size + page - 1) / page * page;
    t.image.assign(std::max(readable, SensorTableSize(started)), 0);
    SensorTableHeader header{};
    header.version = r.chance(0.85) ? kSensorTableVersion : r.one_of({0u, 2u, 0xFFFFFFFFu, 0x01000000u, 257u});
    const std::size_t whole = (readable - std::min(readable, kSensorTableHeaderSize)) / kSensorRecordSize;
    switch (r.pick({25, 25, 25, 8, 7, 10})) {
        case 0: header.count = static_cast<std::uint16_t>(std::min<std::size_t>(whole, 65535)); break;
        case 1: header.count = static_cast<std::uint16_t>(r.between(0, std::min<std::size_t>(whole, 65535))); break;
        case 2: header.count = static_cast<std::uint16_t>(r.between(std::min<std::size_t>(whole, 65534) + 1, 65535)); break;
        case 3: header.count = 65535; break;
        case 4: header.count = 0; break;
        default: header.count = static_cast<std::uint16_t>(r.between(0, 200)); break;
    }
    header.reserved = static_cast<std::uint16_t>(r.bits());
    std::memcpy(t.image.data(), &header, sizeof header);
    if (started != 0) {
        std::memcpy(t.image.data() + kSensorTableHeaderSize, generated.data(), started * kSensorRecordSize);
    }
    // The section holds `size` bytes; its last page reads as zeros behind them.
    std::fill(t.image.begin() + static_cast<std::ptrdiff_t>(size), t.image.end(), 0);
    t.image.resize(readable);

    // Now and then a record caught mid-update by a writer that never finishes.
    const std::size_t readable_records = std::min({t.listed(), kReadableRecords});
    if (readable_records != 0 && r.chance(stuck_chance)) {
        const std::size_t index = r.between(0, readable_records - 1);
        const std::size_t busy_at = SensorRecordOffset(index) + offsetof(SensorRecord, busy);
        if (busy_at + sizeof(std::int32_t) <= size) {
            const std::int32_t busy = kRecordBusy;
            std::memcpy(t.image.data() + busy_at, &busy, sizeof busy);
            g.stuck = index;
        }
    }
    return g;
}

// Each case draws from its own generator, seeded from (seed, case number).
Random CaseRandom(std::uint64_t seed, std::uint64_t number) { return Random(Mix(seed * 0x9E3779B97F4A7C15ull + Mix(number))); }

// ---- Queries ----------------------------------------------------------------------------------

std::string NumberParameter(Random& r, const Table& t) {
    static const char* const kSpecial[] = {"0",     "",       "abc",         "-1",          "65536", "65537",
                                           "65663", "  12",   "+5",          "3xyz",        "127",   "128",
                                           "-65535", "\t7",   "2147483647",  "99999999999", "0x10",  "1e3"};
    switch (r.pick({55, 20, 25})) {
        case 0: return std::to_string(r.between(1, std::min<std::size_t>(t.listed(), 130) + 2));
        case 1: return std::to_string(r.between(0, 65535));
        default: return r.one_of(kSpecial);
    }
}

// A record's name as a query: the low byte of each unit up to the terminator, at most `limit`.
std::string QueryFromName(const Table& t, std::size_t index, std::size_t limit) {
    const SensorRecord rec = t.record(index);
    std::string q;
    for (std::size_t k = 0; k < kSensorNameUnits && k < limit; ++k) {
        const auto byte = static_cast<unsigned char>(rec.name[k] & 0xFF);
        if (rec.name[k] == 0 || byte == 0) { break; }
        q.push_back(static_cast<char>(byte));
    }
    return q;
}

std::string NameQuery(Random& r, const Table& t) {
    const std::size_t listed = t.present ? t.listed() : 0;
    const std::size_t whole = t.present ? t.whole_records() : 0;
    switch (r.pick({45, 15, 10, 15, 5, 10})) {
        case 0:
            if (listed != 0) { return QueryFromName(t, r.between(0, listed - 1), 255); }
            break;
        case 1:
            if (listed != 0) {  // one byte off: changed, added or dropped
                std::string q = QueryFromName(t, r.between(0, listed - 1), 255);
                switch (r.between(0, 2)) {
                    case 0:
                        if (!q.empty()) { q[r.between(0, q.size() - 1)] = static_cast<char>(r.between(1, 255)); }
                        break;
                    case 1: q.push_back(static_cast<char>(r.between(1, 255))); break;
                    default:
                        if (!q.empty()) { q.pop_back(); }
                        break;
                }
                return q;
            }
            break;
        case 2:
            if (listed != 0) {  // a long name as a query longer than the 255 bytes compared
                std::string q = QueryFromName(t, r.between(0, listed - 1), kSensorNameUnits);
                while (q.size() < 256) { q.push_back(static_cast<char>(r.between(1, 255))); }
                return q;
            }
            break;
        case 3: {
            std::string q(r.between(1, 40), ' ');
            for (char& c : q) { c = static_cast<char>(r.between(1, 255)); }
            return q;
        }
        case 4: return "";
        default:
            if (whole > listed) { return QueryFromName(t, r.between(listed, whole - 1), 255); }  // past the count
            break;
    }
    return "Sensor " + std::to_string(r.between(1, 300));
}

// ---- Running ----------------------------------------------------------------------------------

class Failures {
public:
    Failures(Result& result, std::size_t kept) : result_(result), kept_(kept) {}
    void add(const std::string& text) {
        ++result_.failures;
        if (result_.failure_texts.size() < kept_) { result_.failure_texts.push_back(text); }
    }

private:
    Result& result_;
    std::size_t kept_;
};

std::string KindOf(const std::string& answer) {
    for (const char* message : kFixedMessages) {
        if (answer == message) { return message; }
    }
    return "value text";
}

// Fills the dialog for `t` and compares its list with the model; an empty text when all is well.
// `listed` receives the number of entries the list must have.
std::string CheckDialog(const Table& t, std::size_t& listed) {
    std::vector<std::wstring> expected = ExpectedEntries(t);
    ConfigureCall call;
    HWND dialog = nullptr;
    HWND error_box = nullptr;
    PumpUntil([&] {
        error_box = call.FindDialog(L"Error");
        if (error_box != nullptr && ::IsWindowVisible(error_box)) { return true; }
        error_box = nullptr;
        dialog = call.FindDialog(L"Sensors");
        return dialog != nullptr && ::IsWindowVisible(dialog);
    });
    if (error_box != nullptr) {
        std::string texts;
        for (const std::wstring& s : StaticTexts(error_box)) { texts += Printable(s) + " "; }
        return "the dialog showed an \"Error\" message box: " + texts;  // ConfigureCall closes it
    }
    if (dialog == nullptr || !::IsWindowVisible(dialog)) {
        return "no visible \"Sensors\" dialog after " + std::to_string(kWindowTimeoutMs) + " ms";
    }
    std::string problem;
    listed = expected.size();
    const HWND list = ::GetDlgItem(dialog, kSensorListId);
    if (expected.size() <= kComparedEntries) {
        std::vector<std::wstring> entries = ListEntries(list);
        std::sort(entries.begin(), entries.end());
        std::sort(expected.begin(), expected.end());
        if (entries != expected) {
            problem = "the list has " + std::to_string(entries.size()) + " entries, expected " +
                      std::to_string(expected.size());
            const auto diff = std::mismatch(entries.begin(), entries.end(), expected.begin(), expected.end());
            if (diff.first != entries.end()) { problem += "; listed " + Printable(*diff.first); }
            if (diff.second != expected.end()) { problem += "; expected " + Printable(*diff.second); }
            problem += " (first difference, both sorted)";
        }
    } else {
        DWORD_PTR count = 0;
        if (::SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kWindowTimeoutMs, &count) == 0 ||
            count != expected.size()) {
            problem = "the list has " + std::to_string(static_cast<LRESULT>(count)) + " entries, expected " +
                      std::to_string(expected.size());
        }
    }
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    if (!call.WaitFinished()) {
        problem += (problem.empty() ? "" : "; ") + std::string("configure did not return after IDOK");
    } else if (call.result() != 0) {
        problem += (problem.empty() ? "" : "; ") + std::string("configure returned ") + std::to_string(call.result());
    }
    return problem;
}

// What the watchdog and the crash report name.
std::atomic<long long> g_case_started_ms{0};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    char module_name[MAX_PATH] = "?";
    HMODULE module = nullptr;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(info->ExceptionRecord->ExceptionAddress), &module)) {
        ::GetModuleFileNameA(module, module_name, MAX_PATH);
    }
    std::fprintf(stderr, "table fuzz: exception 0x%08lX at %p (in %s) in %s, %s\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 info->ExceptionRecord->ExceptionAddress, module_name, g_current_case, g_current_step);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;  // end the process now, without waiting for a debugger
}

// Ends the process when one case runs longer than `limit_ms`: a hang is a failure, named.
class Watchdog {
public:
    explicit Watchdog(long long limit_ms)
        : thread_([this, limit_ms] {
              while (!stop_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
                  const long long started = g_case_started_ms;
                  if (started != 0 && NowMs() - started > limit_ms) {
                      std::fprintf(stderr, "table fuzz: %s has not ended after %lld s; stopping\n", g_current_case,
                                   limit_ms / 1000);
                      std::fflush(stderr);
                      ::TerminateProcess(::GetCurrentProcess(), 3);
                  }
              }
          }) {}
    ~Watchdog() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

CaseTable TableOfCase(std::uint64_t seed, std::uint64_t number, std::size_t page, double stuck_chance) {
    Random r = CaseRandom(seed, number);
    Generated g = RandomTable(r, page, stuck_chance);
    CaseTable t;
    t.present = g.table.present;
    t.section_bytes = g.table.section_bytes;
    t.image = std::move(g.table.image);
    return t;
}

std::string CaseName(std::uint64_t seed, std::uint64_t number) {
    return "seed " + std::to_string(seed) + ", case " + std::to_string(number) + " (alone: table_fuzz " +
           std::to_string(seed) + " 1 --from " + std::to_string(number) + ")";
}

Result RunCases(const Options& options) {
    Result result;
    Failures failures(result, options.kept_failures);
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;

    const host::PluginInstance instance(Interface(), nullptr);
    const host::ValueFn by_number = Interface().require_value_function("ValueBySensor");
    const host::ValueFn by_name = Interface().require_value_function("ValueByName");
    auto ask = [&](host::ValueFn fn, const std::string& parameter) -> std::string {
        std::snprintf(g_current_step, sizeof g_current_step, "%s(%s)", fn == by_number ? "ValueBySensor" : "ValueByName",
                      Printable(parameter).c_str());
        const char* answer = fn(instance.handle(), parameter.c_str());
        std::snprintf(g_current_step, sizeof g_current_step, "the model");
        ++result.value_queries;
        if (answer == nullptr) { return "(null)"; }
        return answer;
    };

    const LPTOP_LEVEL_EXCEPTION_FILTER old_filter = ::SetUnhandledExceptionFilter(ReportCrash);
    const Watchdog watchdog(60000);
    std::uint64_t with_table = 0;

    for (std::uint64_t n = options.first_case; n < options.first_case + options.cases; ++n) {
        const std::string name = CaseName(options.seed, n);
        std::snprintf(g_current_case, sizeof g_current_case, "%s", name.c_str());
        g_case_started_ms = NowMs();
        Random r = CaseRandom(options.seed, n);
        const Generated g = RandomTable(r, page, 1.0 / 1500);
        const Table& t = g.table;
        const std::string shape =
            !t.present ? std::string("no table")
                       : "section " + std::to_string(t.section_bytes) + " bytes, version " + std::to_string(t.version()) +
                             ", count " + std::to_string(t.count()) + ", " + std::to_string(t.whole_records()) +
                             " whole records in view";

        std::unique_ptr<SensorTableWriter> writer;
        if (t.present) {
            try {
                writer = std::make_unique<SensorTableWriter>(0, t.section_bytes);
            } catch (const std::exception& e) {
                // The previous case's table is gone unless something still holds it open.
                failures.add(name + ": cannot publish the table (" + e.what() + ")");
                break;
            }
            std::memcpy(&writer->header(), t.image.data(), t.section_bytes);
            ++with_table;
        }

        auto check = [&](const char* function, const std::string& parameter, const std::string& answer,
                         const std::string& expected) {
            ++result.answers[KindOf(answer)];
            if (answer != expected) {
                failures.add(name + " [" + shape + "]: " + function + "(" + Printable(parameter) + ") answered " +
                             Printable(answer) + ", expected " + Printable(expected));
            }
        };
        for (int q = 0; q < 4; ++q) {
            const std::string parameter = NumberParameter(r, t);
            const std::string by_number_answer = ask(by_number, parameter);
            check("ValueBySensor", parameter, by_number_answer, ExpectByNumber(t, parameter));
            const std::string query = NameQuery(r, t);
            const std::string by_name_answer = ask(by_name, query);
            check("ValueByName", query, by_name_answer, ExpectByName(t, query));
        }
        if (g.stuck != SIZE_MAX) {
            const std::string parameter = std::to_string(g.stuck + 1);
            const std::string answer = ask(by_number, parameter);
            check("ValueBySensor", parameter, answer, ExpectByNumber(t, parameter));
        }
        if (t.present && options.dialog_every != 0 && with_table % options.dialog_every == 0) {
            ++result.dialogs;
            std::snprintf(g_current_step, sizeof g_current_step, "the dialog");
            std::size_t listed = 0;
            const std::string problem = CheckDialog(t, listed);
            result.dialog_entries += listed;
            if (!problem.empty()) { failures.add(name + " [" + shape + "]: dialog: " + problem); }
        }
        ++result.cases;
        g_case_started_ms = 0;
        if (options.progress_every != 0 && result.cases % options.progress_every == 0) {
            std::printf("  %llu cases, %llu value queries, %llu dialogs, %llu failures\n",
                        static_cast<unsigned long long>(result.cases),
                        static_cast<unsigned long long>(result.value_queries),
                        static_cast<unsigned long long>(result.dialogs),
                        static_cast<unsigned long long>(result.failures));
            std::fflush(stdout);
        }
    }
    ::SetUnhandledExceptionFilter(old_filter);
    return result;
}

}  // namespace vorkast::test::fuzz
