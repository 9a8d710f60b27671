#include "tools/publish/sensor_file.h"

#include "tools/common/console.h"
#include "tools/common/quoted_name.h"
#include "tools/common/variant_types.h"

#include <oleauto.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>

namespace vorkast::tools {

const char kDefaultSensorFile[] = R"(# The built-in sensor set of vorkast-publish.
# name                | type | value or generator
CPU Package           | r8   | sine 45 78 30
CPU Core 1            | r8   | sine 42 74 20
GPU Temperature       | r8   | ramp 38 64 45
Motherboard           | r8   | 36.5
CPU Fan               | i4   | sine 900 1800 25
Case Fan 1            | i4   | random 700 760
Vcore                 | r8   | sine 1.05 1.32 12
+12V                  | r8   | random 11.95 12.08
+3.3V                 | r8   | 3.312
CPU Load              | r4   | random 3 97      # percent
Fan Failure           | bool | false
Boot Time             | date | 2024-05-06 07:45:12
Sensor Time           | date | now
)";

namespace {

constexpr LCID kInvariantLocale = 0x007F;
constexpr std::size_t kMaxNameUnits = kSensorNameUnits - 1;  // 321, the terminator needs the rest
constexpr std::size_t kMaxSensors = 65535;                   // the header's count is 16 bits
constexpr unsigned long long kMaxSectionBytes = 256ull << 20;  // as vorkast-publish --section-bytes
constexpr unsigned long long kMaxRecordingMs = 366ull * 24 * 3600 * 1000;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) { s.remove_prefix(1); }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) { s.remove_suffix(1); }
    return s;
}

std::vector<std::string_view> SplitBlanks(std::string_view s) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) { ++i; }
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') { ++i; }
        if (i > start) { tokens.push_back(s.substr(start, i - start)); }
    }
    return tokens;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') { c = static_cast<char>(c - 'A' + 'a'); }
    }
    return r;
}

std::string Quote(std::string_view s) { return "'" + std::string(s) + "'"; }

// The range of a numeric type, as doubles (for generator bounds and rounding).
struct NumericRange {
    double low;
    double high;
    bool integer;
};

bool NumericRangeOf(VARTYPE type, NumericRange* range) {
    switch (type) {
        case VT_I1: *range = {-128.0, 127.0, true}; return true;
        case VT_UI1: *range = {0.0, 255.0, true}; return true;
        case VT_I2: *range = {-32768.0, 32767.0, true}; return true;
        case VT_UI2: *range = {0.0, 65535.0, true}; return true;
        case VT_I4:
        case VT_INT: *range = {-2147483648.0, 2147483647.0, true}; return true;
        case VT_UI4:
        case VT_UINT: *range = {0.0, 4294967295.0, true}; return true;
        // The double bounds of 64-bit integers are rounded; values are clamped just inside.
        case VT_I8: *range = {-9223372036854774784.0, 9223372036854774784.0, true}; return true;
        case VT_UI8: *range = {0.0, 18446744073709549568.0, true}; return true;
        case VT_R4: *range = {-3.4028234e38, 3.4028234e38, false}; return true;
        case VT_R8: *range = {-1.7976931348623157e308, 1.7976931348623157e308, false}; return true;
        case VT_CY: *range = {-922337203685477.0, 922337203685477.0, false}; return true;
        case VT_DECIMAL: *range = {-7.9e28, 7.9e28, false}; return true;
        default: return false;
    }
}

std::string RangeText(const NumericRange& r) {
    char text[96];
    std::snprintf(text, sizeof text, "%.17g to %.17g", r.low, r.high);
    return text;
}

// A plain decimal number: optional sign, digits, optional fraction and exponent.
bool ParseReal(std::string_view token, double* value) {
    if (token.empty() || token.size() > 64) { return false; }
    const std::string text(token);
    if (text.find_first_not_of("+-0123456789.eE") != std::string::npos) { return false; }
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) { return false; }
    *value = v;
    return true;
}

// A whole number in decimal, or in hexadecimal after 0x; optional sign.
bool ParseInteger(std::string_view token, bool* negative, unsigned long long* magnitude) {
    *negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        *negative = token[0] == '-';
        token.remove_prefix(1);
    }
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    }
    if (token.empty()) { return false; }
    for (char c : token) {
        const bool digit = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hex)) { return false; }
    }
    errno = 0;
    const std::string text(token);
    *magnitude = std::strtoull(text.c_str(), nullptr, base);
    return errno != ERANGE;
}

// A variant of `type` with every byte zero, so that no stray bytes reach the table.
VARIANT Empty(VARTYPE type) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = type;
    return v;
}

// An integer variant of `type` from a value already known to be in range.
VARIANT IntegerVariant(VARTYPE type, long long s, unsigned long long u) {
    VARIANT v = Empty(type);
    switch (type) {
        case VT_I1: v.cVal = static_cast<CHAR>(s); break;
        case VT_UI1: v.bVal = static_cast<BYTE>(u); break;
        case VT_I2: v.iVal = static_cast<SHORT>(s); break;
        case VT_UI2: v.uiVal = static_cast<USHORT>(u); break;
        case VT_I4: v.lVal = static_cast<LONG>(s); break;
        case VT_INT: v.intVal = static_cast<INT>(s); break;
        case VT_UI4: v.ulVal = static_cast<ULONG>(u); break;
        case VT_UINT: v.uintVal = static_cast<UINT>(u); break;
        case VT_I8: v.llVal = s; break;
        case VT_UI8: v.ullVal = u; break;
        default: break;
    }
    return v;
}

bool IsUnsignedType(VARTYPE t) {
    return t == VT_UI1 || t == VT_UI2 || t == VT_UI4 || t == VT_UINT || t == VT_UI8;
}

// A numeric variant of `type` holding `value` (rounded for integers, kept in range).
VARIANT NumericVariant(VARTYPE type, double value) {
    NumericRange range{};
    NumericRangeOf(type, &range);
    value = std::min(std::max(value, range.low), range.high);
    switch (type) {
        case VT_R4: {
            VARIANT v = Empty(VT_R4);
            v.fltVal = static_cast<float>(value);
            return v;
        }
        case VT_R8: {
            VARIANT v = Empty(VT_R8);
            v.dblVal = value;
            return v;
        }
        case VT_CY: {
            VARIANT v = Empty(VT_CY);
            if (FAILED(::VarCyFromR8(value, &v.cyVal))) { v.cyVal.int64 = 0; }
            return v;
        }
        case VT_DECIMAL: {
            VARIANT v = Empty(VT_EMPTY);
            if (FAILED(::VarDecFromR8(value, &v.decVal))) { std::memset(&v.decVal, 0, sizeof v.decVal); }
            v.vt = VT_DECIMAL;  // after the DECIMAL: its first two bytes are the type tag
            return v;
        }
        default: {
            const double rounded = std::nearbyint(value);
            if (IsUnsignedType(type)) {
                return IntegerVariant(type, 0, static_cast<unsigned long long>(rounded));
            }
            return IntegerVariant(type, static_cast<long long>(rounded), 0);
        }
    }
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// YYYY-MM-DD, optionally followed by a blank or 'T' and HH:MM or HH:MM:SS.
bool ParseDate(std::string_view text, double* date, std::string* why) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    const std::string t(text);
    int fields = std::sscanf(t.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail);
    bool ok = false;
    if (fields == 3 && t.size() == 10) {
        ok = true;
    } else if (fields == 4 && (tail == ' ' || tail == 'T')) {
        char sep[2] = {0, 0};
        char extra = 0;
        const int time_fields = std::sscanf(t.c_str() + 11, "%2d:%2d%1[:]%2d%c", &h, &mi, sep, &s, &extra);
        const std::size_t rest = t.size() - 11;
        ok = (time_fields == 2 && rest == 5) || (time_fields == 4 && rest == 8);
    }
    if (!ok) {
        *why = "expected a date as YYYY-MM-DD, YYYY-MM-DD HH:MM or YYYY-MM-DD HH:MM:SS, or 'now'";
        return false;
    }
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 ||
        d > kDays[mo - 1] + (mo == 2 && IsLeapYear(y) ? 1 : 0) || h > 23 || mi > 59 || s > 59 ||
        h < 0 || mi < 0 || s < 0) {
        *why = Quote(text) + " is not a valid date and time";
        return false;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    if (!::SystemTimeToVariantTime(&st, date)) {
        *why = Quote(text) + " is not a valid date and time";
        return false;
    }
    return true;
}

bool ParseBool(std::string_view token, bool* value) {
    const std::string t = Lower(token);
    if (t == "true" || t == "yes" || t == "on" || t == "1") { *value = true; return true; }
    if (t == "false" || t == "no" || t == "off" || t == "0") { *value = false; return true; }
    return false;
}

double Round3(double v) {
    const double r = std::nearbyint(v * 1000.0) / 1000.0;
    return std::isfinite(r) ? r : v;
}

class Parser {
public:
    SensorFile Run(std::string_view text) {
        if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) { text.remove_prefix(3); }
        int line_number = 0;
        while (!text.empty() || line_number == 0) {
            ++line_number;
            const std::size_t end = text.find('\n');
            const std::string_view line = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ParseLine(line_number, line);
            if (end == std::string_view::npos) { break; }
        }
        return std::move(file_);
    }

private:
    void Error(int line, std::string text) { file_.errors.push_back({line, std::move(text)}); }
    void Warning(int line, std::string text) { file_.warnings.push_back({line, std::move(text)}); }

    void ParseLine(int line, std::string_view raw) {
        const std::string_view trimmed = Trim(raw);
        if (trimmed.empty() || trimmed.front() == '#') { return; }
        if (ended_) {
            Error(line, "nothing may follow @end but blank and comment lines");
            return;
        }
        // The line that selects the second form holds no '|': in the first form it was an
        // error, so no old file changes its meaning.
        if (trimmed.find('|') == std::string_view::npos) {
            const std::vector<std::string_view> tokens = SplitBlanks(WithoutComment(trimmed));
            if (!tokens.empty() && tokens[0] == "@vorkast-sensor-file") {
                if (tokens.size() != 2 || tokens[1] != "2") {
                    Error(line, "this program reads '@vorkast-sensor-file 2' (or files without that line)");
                } else if (file_.format != 1 || content_seen_) {
                    Error(line, "'@vorkast-sensor-file 2' must come before every other line");
                } else {
                    file_.format = 2;
                }
                content_seen_ = true;
                return;
            }
        }
        content_seen_ = true;
        if (file_.format == 2 && trimmed.front() == '@') {
            ParseDirective(line, trimmed);
            return;
        }
        ParseRecordLine(line, trimmed);
    }

    static std::string_view WithoutComment(std::string_view text) {
        const std::size_t hash = text.find('#');
        return hash == std::string_view::npos ? text : Trim(text.substr(0, hash));
    }

    static std::vector<std::string_view> SplitColumns(std::string_view text) {
        std::vector<std::string_view> columns;
        std::size_t start = 0;
        for (;;) {
            const std::size_t bar = text.find('|', start);
            columns.push_back(Trim(text.substr(start, bar - start)));
            if (bar == std::string_view::npos) { break; }
            start = bar + 1;
        }
        return columns;
    }

    void ParseRecordLine(int line, std::string_view trimmed) {
        SensorDefinition sensor;
        sensor.line = line;
        std::vector<std::string_view> columns;
        if (file_.format == 2 && trimmed.front() == '"') {
            std::size_t consumed = 0;
            std::string why;
            if (!UnquoteName(trimmed, &sensor.name, &consumed, &why)) {
                Error(line, why);
                return;
            }
            const std::string_view rest = Trim(trimmed.substr(consumed));
            if (rest.empty() || rest.front() != '|') {
                Error(line, "expected '|' after the quoted name");
                return;
            }
            columns = SplitColumns(rest.substr(1));
        } else {
            columns = SplitColumns(trimmed);
            if (columns.size() < 2) {
                Error(line, "expected 'name | type | value', found no '|'");
                return;
            }
            if (columns.size() > (file_.format == 2 ? 4u : 3u)) {
                Error(line, file_.format == 2 ? "too many '|' (expected 'name | type | value | busy N'; quote a "
                                                "name that holds '|')"
                                              : "too many '|' (expected 'name | type | value'; a name cannot hold '|')");
                return;
            }
            if (!ParseName(line, columns[0], &sensor)) { return; }
            columns.erase(columns.begin());
        }
        if (recording_) {
            Error(line, "a sensor line after the recording began (a change is '@set NUMBER | type | value')");
            return;
        }
        if (!ParseValueColumns(line, columns, &sensor)) { return; }

        if (file_.sensors.size() == kMaxSensors) {
            Error(line, "more than 65535 sensors: the table's count cannot hold them");
            return;
        }
        if (file_.sensors.size() == 127) {
            Warning(line, "sensors from here on (number 128 and above) cannot be read by number");
        }
        file_.sensors.push_back(std::move(sensor));
    }

    // `type | value [| busy N]` of a sensor line or a recorded change.
    bool ParseValueColumns(int line, const std::vector<std::string_view>& columns, SensorDefinition* sensor) {
        if (columns.empty() || columns.size() > (file_.format == 2 ? 3u : 2u)) {
            Error(line, "expected 'type | value' after the name" +
                            std::string(file_.format == 2 ? " (and at most a busy column)" : ""));
            return false;
        }
        const std::string_view value = columns.size() >= 2 ? WithoutComment(columns[1]) : std::string_view();
        if (!ParseTypeAndValue(line, columns[0], value, sensor)) { return false; }
        if (columns.size() == 3 && !ParseAttributes(line, WithoutComment(columns[2]), sensor)) { return false; }
        return true;
    }

    // The fourth column of the second form: `busy N`, the busy word as captured.
    bool ParseAttributes(int line, std::string_view text, SensorDefinition* sensor) {
        const std::vector<std::string_view> tokens = SplitBlanks(text);
        if (tokens.empty()) { return true; }
        bool negative = false;
        unsigned long long magnitude = 0;
        if (tokens.size() != 2 || Lower(tokens[0]) != "busy" || !ParseInteger(tokens[1], &negative, &magnitude) ||
            (negative ? magnitude > 2147483648ull : magnitude > 0xFFFFFFFFull)) {
            Error(line, "expected 'busy N' (a 32-bit busy word) in the fourth column, found " + Quote(text));
            return false;
        }
        sensor->busy = static_cast<std::int32_t>(negative ? 0u - static_cast<std::uint32_t>(magnitude)
                                                          : static_cast<std::uint32_t>(magnitude));
        return true;
    }

    // A whole number from 0 to `max`, decimal or 0x hexadecimal.
    static bool ParseWhole(std::string_view token, unsigned long long max, unsigned long long* value) {
        bool negative = false;
        return ParseInteger(token, &negative, value) && !negative && *value <= max;
    }

    // Records a change may address: those of the section when its size is given, else the
    // sensors listed.
    std::size_t ChangeableRecords() const {
        const std::size_t records = file_.table.section_bytes != 0 ? WholeRecords(file_.table.section_bytes)
                                                                   : file_.sensors.size();
        return std::min(records, kMaxSensors);
    }

    // A record number of a change, 1 to ChangeableRecords().
    bool ParseRecordNumber(int line, std::string_view token, std::size_t* index) {
        unsigned long long number = 0;
        const std::size_t records = ChangeableRecords();
        if (!ParseWhole(token, kMaxSensors, &number) || number == 0 || number > records) {
            Error(line, Quote(token) + " is not a record of the table (1 to " + std::to_string(records) + ")");
            return false;
        }
        *index = static_cast<std::size_t>(number - 1);
        return true;
    }

    void ParseDirective(int line, std::string_view text) {
        std::size_t split = text.find_first_of(" \t|");
        const std::string keyword(text.substr(0, split));
        const std::string_view rest = split == std::string_view::npos ? std::string_view() : Trim(text.substr(split));
        if (keyword == "@table") {
            ParseTable(line, rest);
        } else if (keyword == "@at") {
            unsigned long long at = 0;
            const std::vector<std::string_view> tokens = SplitBlanks(WithoutComment(rest));
            if (tokens.size() != 1 || !ParseWhole(tokens[0], kMaxRecordingMs, &at)) {
                Error(line, "@at takes the milliseconds since the recording began, found " + Quote(rest));
            } else if (at < at_ms_) {
                Error(line, "@at " + std::to_string(at) + " goes back in time (the last was @at " +
                                std::to_string(at_ms_) + ")");
            } else {
                at_ms_ = at;
                recording_ = true;
            }
        } else if (keyword == "@end") {
            unsigned long long end = 0;
            const std::vector<std::string_view> tokens = SplitBlanks(WithoutComment(rest));
            if (tokens.size() != 1 || !ParseWhole(tokens[0], kMaxRecordingMs, &end)) {
                Error(line, "@end takes the recording's length in milliseconds, found " + Quote(rest));
            } else if (end < at_ms_) {
                Error(line, "@end " + std::to_string(end) + " lies before the last change (@at " +
                                std::to_string(at_ms_) + ")");
            } else {
                file_.end_ms = end;
                recording_ = true;
                ended_ = true;
            }
        } else if (keyword == "@set" || keyword == "@name" || keyword == "@header") {
            if (!recording_) {
                Error(line, keyword + " is a change of a recording: it needs a time first ('@at MS')");
                return;
            }
            RecordedChange change;
            change.line = line;
            change.at_ms = at_ms_;
            bool ok = false;
            if (keyword == "@set") {
                ok = ParseSet(line, rest, &change);
            } else if (keyword == "@name") {
                ok = ParseNameChange(line, rest, &change);
            } else {
                ok = ParseHeaderChange(line, rest, &change);
            }
            if (ok) { file_.changes.push_back(std::move(change)); }
        } else {
            Error(line, "unknown line " + Quote(keyword) + " (one of @table, @at, @set, @name, @header, @end)");
        }
    }

    // `@table version V count C reserved R section-bytes S`, each part optional, before the
    // first sensor.
    void ParseTable(int line, std::string_view rest) {
        if (table_seen_ || !file_.sensors.empty() || recording_) {
            Error(line, "@table must come once, before the first sensor");
            return;
        }
        table_seen_ = true;
        const std::vector<std::string_view> tokens = SplitBlanks(WithoutComment(rest));
        if (tokens.size() % 2 != 0 || tokens.empty()) {
            Error(line, "@table takes pairs: version V, count C, reserved R, section-bytes S");
            return;
        }
        TableShape shape;
        for (std::size_t i = 0; i < tokens.size(); i += 2) {
            const std::string key = Lower(tokens[i]);
            unsigned long long v = 0;
            bool ok = true;
            if (key == "version") {
                ok = ParseWhole(tokens[i + 1], 0xFFFFFFFFull, &v);
                shape.version = static_cast<std::uint32_t>(v);
                shape.version_given = true;
            } else if (key == "count") {
                ok = ParseWhole(tokens[i + 1], 65535, &v);
                shape.count = static_cast<std::uint16_t>(v);
                shape.count_given = true;
            } else if (key == "reserved") {
                ok = ParseWhole(tokens[i + 1], 65535, &v);
                shape.reserved = static_cast<std::uint16_t>(v);
            } else if (key == "section-bytes") {
                ok = ParseWhole(tokens[i + 1], kMaxSectionBytes, &v) && v != 0;
                shape.section_bytes = static_cast<std::size_t>(v);
            } else {
                Error(line, "@table knows version, count, reserved and section-bytes, not " + Quote(tokens[i]));
                return;
            }
            if (!ok) {
                Error(line, "@table: " + Quote(tokens[i + 1]) + " is not a valid " + key);
                return;
            }
        }
        file_.table = shape;
    }

    // `@set NUMBER | type | value [| busy N]`
    bool ParseSet(int line, std::string_view rest, RecordedChange* change) {
        std::vector<std::string_view> columns = SplitColumns(rest);
        if (columns.size() < 2) {
            Error(line, "expected '@set NUMBER | type | value'");
            return false;
        }
        if (!ParseRecordNumber(line, columns[0], &change->index)) { return false; }
        columns.erase(columns.begin());
        SensorDefinition value;
        if (!ParseValueColumns(line, columns, &value)) { return false; }
        if (value.generator != Generator::fixed) {
            Error(line, "a recorded change takes a fixed value or raw bytes, not a generator");
            return false;
        }
        change->kind = RecordedChange::Kind::value;
        change->value = value.fixed;
        change->busy = value.busy;
        return true;
    }

    // `@name NUMBER "quoted name"`
    bool ParseNameChange(int line, std::string_view rest, RecordedChange* change) {
        const std::size_t quote = rest.find('"');
        const std::vector<std::string_view> number = SplitBlanks(rest.substr(0, quote));
        if (quote == std::string_view::npos || number.size() != 1) {
            Error(line, "expected '@name NUMBER \"name\"'");
            return false;
        }
        if (!ParseRecordNumber(line, number[0], &change->index)) { return false; }
        std::size_t consumed = 0;
        std::string why;
        if (!UnquoteName(rest.substr(quote), &change->name, &consumed, &why)) {
            Error(line, why);
            return false;
        }
        const std::string_view tail = Trim(rest.substr(quote + consumed));
        if (!tail.empty() && tail.front() != '#') {
            Error(line, "unexpected " + Quote(tail) + " after the name");
            return false;
        }
        change->kind = RecordedChange::Kind::name;
        return true;
    }

    // `@header version V count C`
    bool ParseHeaderChange(int line, std::string_view rest, RecordedChange* change) {
        const std::vector<std::string_view> tokens = SplitBlanks(WithoutComment(rest));
        unsigned long long version = 0, count = 0;
        if (tokens.size() != 4 || Lower(tokens[0]) != "version" || Lower(tokens[2]) != "count" ||
            !ParseWhole(tokens[1], 0xFFFFFFFFull, &version) || !ParseWhole(tokens[3], 65535, &count)) {
            Error(line, "expected '@header version V count C', found " + Quote(rest));
            return false;
        }
        change->kind = RecordedChange::Kind::header;
        change->version = static_cast<std::uint32_t>(version);
        change->count = static_cast<std::uint16_t>(count);
        return true;
    }

    bool ParseName(int line, std::string_view text, SensorDefinition* sensor) {
        if (text.empty()) {
            Error(line, "the name is empty");
            return false;
        }
        sensor->name = FromUtf8OrAnsi(text);
        if (sensor->name.empty()) {
            Error(line, "the name cannot be read as text");
            return false;
        }
        if (sensor->name.size() > kMaxNameUnits) {
            Error(line, "the name is " + std::to_string(sensor->name.size()) +
                            " UTF-16 units long; a record holds at most 321");
            return false;
        }
        const auto seen = names_.find(sensor->name);
        if (seen != names_.end()) {
            Warning(line, "the name " + Quote(text) + " is used on line " + std::to_string(seen->second) +
                              " too; ValueByName finds the first");
        } else {
            names_.emplace(sensor->name, line);
        }
        if (std::any_of(sensor->name.begin(), sensor->name.end(), [](wchar_t c) { return c > 0xFF; })) {
            Warning(line, "the name holds characters beyond U+00FF: ValueByName cannot find it");
        }
        return true;
    }

    bool ParseTypeAndValue(int line, std::string_view type_text, std::string_view value,
                           SensorDefinition* sensor) {
        if (type_text.empty()) {
            Error(line, "the type is missing (one of: " + std::string(ByValueKeywords()) + ")");
            return false;
        }
        if (Lower(type_text) == "raw") { return ParseRaw(line, value, sensor); }
        bool by_value = false;
        if (!TypeFromKeyword(type_text, &sensor->type, &by_value)) {
            if (sensor->type != VT_EMPTY && !by_value) {
                Error(line, "type " + Quote(type_text) +
                                " refers to memory and cannot be carried by the table (use raw to "
                                "store such bytes on purpose)");
            } else {
                Error(line, "unknown type " + Quote(type_text) + " (one of: " +
                                std::string(ByValueKeywords()) + ")");
            }
            return false;
        }
        const VARTYPE type = sensor->type;
        if (type == VT_EMPTY || type == VT_NULL) {
            if (!value.empty()) {
                Error(line, "type " + Lower(type_text) + " takes no value, found " + Quote(value));
                return false;
            }
            sensor->fixed = StoreVariant(Empty(type));
            return true;
        }
        if (value.empty()) {
            Error(line, "the value is missing");
            return false;
        }
        const std::vector<std::string_view> tokens = SplitBlanks(value);
        const std::string keyword = Lower(tokens.front());
        if (keyword == "ramp" || keyword == "sine" || keyword == "random" || keyword == "toggle" ||
            keyword == "now") {
            return ParseGenerator(line, keyword, tokens, sensor);
        }
        return ParseFixed(line, value, sensor);
    }

    bool ParseRaw(int line, std::string_view value, SensorDefinition* sensor) {
        std::string hex;
        for (char c : value) {
            if (c == ' ' || c == '\t') { continue; }
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                Error(line, "raw takes 16 bytes as hexadecimal digits, found " + Quote(value));
                return false;
            }
            hex += c;
        }
        if (hex.size() != 32) {
            Error(line, "raw takes exactly 16 bytes (32 hexadecimal digits), found " +
                            std::to_string(hex.size()) + " digits");
            return false;
        }
        for (std::size_t i = 0; i < 16; ++i) {
            sensor->fixed.bytes[i] =
                static_cast<unsigned char>(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
        }
        sensor->raw = true;
        sensor->type = static_cast<VARTYPE>(sensor->fixed.bytes[0] | (sensor->fixed.bytes[1] << 8));
        return true;
    }

    bool ParseGenerator(int line, const std::string& keyword, const std::vector<std::string_view>& tokens,
                        SensorDefinition* sensor) {
        const VARTYPE type = sensor->type;
        const std::string type_name = TypeName(type);
        NumericRange range{};
        const bool numeric = NumericRangeOf(type, &range);

        auto argument_count = [&](std::size_t want, const char* form) {
            if (tokens.size() - 1 != want) {
                Error(line, keyword + " takes " + std::to_string(want) + " number" + (want == 1 ? "" : "s") +
                                ": '" + form + "'");
                return false;
            }
            return true;
        };
        auto number = [&](std::size_t i, double* v) {
            if (!ParseReal(tokens[i], v)) {
                Error(line, Quote(tokens[i]) + " is not a number");
                return false;
            }
            return true;
        };
        auto in_range = [&](double v, std::string_view token) {
            if (v < range.low || v > range.high) {
                Error(line, Quote(token) + " is out of range for " + type_name + " (" + RangeText(range) + ")");
                return false;
            }
            return true;
        };
        auto period = [&](std::size_t i) {
            if (!number(i, &sensor->period)) { return false; }
            if (!(sensor->period > 0)) {
                Error(line, "the period must be more than 0 seconds, found " + Quote(tokens[i]));
                return false;
            }
            return true;
        };

        if (keyword == "now") {
            if (type != VT_DATE) {
                Error(line, "now gives a date; it does not fit type " + type_name);
                return false;
            }
            if (!argument_count(0, "now")) { return false; }
            sensor->generator = Generator::now;
            return true;
        }
        if (keyword == "toggle") {
            if (type != VT_BOOL) {
                Error(line, "toggle gives a Boolean; it does not fit type " + type_name);
                return false;
            }
            if (!argument_count(1, "toggle SECONDS") || !period(1)) { return false; }
            sensor->generator = Generator::toggle;
            return true;
        }
        if (keyword == "random" && type == VT_BOOL) {
            if (!argument_count(0, "random")) { return false; }
            sensor->generator = Generator::random;
            return true;
        }
        if (!numeric) {
            Error(line, keyword + " needs a number type; it does not fit type " + type_name);
            return false;
        }
        if (keyword == "ramp") {
            if (!argument_count(3, "ramp FROM TO SECONDS")) { return false; }
            if (!number(1, &sensor->low) || !number(2, &sensor->high) || !period(3)) { return false; }
            sensor->generator = Generator::ramp;
        } else {
            const bool sine = keyword == "sine";
            if (!argument_count(sine ? 3 : 2, sine ? "sine MIN MAX SECONDS" : "random MIN MAX")) { return false; }
            if (!number(1, &sensor->low) || !number(2, &sensor->high)) { return false; }
            if (sine && !period(3)) { return false; }
            if (sensor->low > sensor->high) {
                Error(line, "the minimum " + Quote(tokens[1]) + " is above the maximum " + Quote(tokens[2]));
                return false;
            }
            sensor->generator = sine ? Generator::sine : Generator::random;
        }
        return in_range(sensor->low, tokens[1]) && in_range(sensor->high, tokens[2]);
    }

    bool ParseFixed(int line, std::string_view value, SensorDefinition* sensor) {
        const VARTYPE type = sensor->type;
        const std::string type_name = TypeName(type);
        if (type == VT_BOOL) {
            bool b = false;
            if (!ParseBool(value, &b)) {
                Error(line, Quote(value) + " is not a Boolean (true, false, yes, no, on, off, 1, 0; or "
                                           "toggle SECONDS, random)");
                return false;
            }
            VARIANT v = Empty(VT_BOOL);
            v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
            sensor->fixed = StoreVariant(v);
            return true;
        }
        if (type == VT_DATE) {
            std::string why;
            VARIANT v = Empty(VT_DATE);
            if (!ParseDate(value, &v.date, &why)) {
                Error(line, why);
                return false;
            }
            sensor->fixed = StoreVariant(v);
            return true;
        }
        if (value.find_first_of(" \t") != std::string_view::npos) {
            Error(line, "expected one value or a generator (ramp, sine, random), found " + Quote(value));
            return false;
        }
        if (type == VT_ERROR) {
            bool negative = false;
            unsigned long long magnitude = 0;
            if (!ParseInteger(value, &negative, &magnitude) ||
                (negative ? magnitude > 2147483648ull : magnitude > 4294967295ull)) {
                Error(line, Quote(value) + " is not a 32-bit status code (for example 0x80004005)");
                return false;
            }
            VARIANT v = Empty(VT_ERROR);
            v.scode = static_cast<SCODE>(negative ? static_cast<ULONG>(0u - magnitude) : static_cast<ULONG>(magnitude));
            sensor->fixed = StoreVariant(v);
            return true;
        }
        NumericRange range{};
        NumericRangeOf(type, &range);
        if (range.integer) {
            bool negative = false;
            unsigned long long magnitude = 0;
            if (!ParseInteger(value, &negative, &magnitude)) {
                Error(line, Quote(value) + " is not a whole number (type " + type_name + ")");
                return false;
            }
            const bool is_unsigned = IsUnsignedType(type);
            unsigned long long max_magnitude =
                is_unsigned ? static_cast<unsigned long long>(range.high)
                            : (negative ? static_cast<unsigned long long>(-range.low)
                                        : static_cast<unsigned long long>(range.high));
            if (type == VT_I8) { max_magnitude = negative ? 9223372036854775808ull : 9223372036854775807ull; }
            if (type == VT_UI8) { max_magnitude = 18446744073709551615ull; }
            if ((is_unsigned && negative && magnitude != 0) || magnitude > max_magnitude) {
                Error(line, Quote(value) + " is out of range for " + type_name);
                return false;
            }
            const long long s = negative ? static_cast<long long>(0ull - magnitude) : static_cast<long long>(magnitude);
            sensor->fixed = StoreVariant(IntegerVariant(type, s, magnitude));
            return true;
        }
        double v = 0;
        if (!ParseReal(value, &v)) {
            Error(line, Quote(value) + " is not a number (type " + type_name + "; a decimal point, no "
                                       "thousands separators)");
            return false;
        }
        if (v < range.low || v > range.high) {
            Error(line, Quote(value) + " is out of range for " + type_name);
            return false;
        }
        if (type == VT_DECIMAL) {
            // Exactly as written, not through a double.
            VARIANT d = Empty(VT_EMPTY);
            std::wstring wide(value.begin(), value.end());
            if (FAILED(::VarDecFromStr(wide.data(), kInvariantLocale, 0, &d.decVal))) {
                Error(line, Quote(value) + " cannot be stored as a decimal");
                return false;
            }
            d.vt = VT_DECIMAL;
            sensor->fixed = StoreVariant(d);
            return true;
        }
        sensor->fixed = StoreVariant(NumericVariant(type, v));
        return true;
    }

    SensorFile file_;
    std::map<std::wstring, int> names_;
    bool content_seen_ = false;  // a line other than blank or comment
    bool table_seen_ = false;
    bool recording_ = false;     // after the first @at
    bool ended_ = false;         // after @end
    unsigned long long at_ms_ = 0;
};

}  // namespace

SensorFile ParseSensorFile(std::string_view text) { return Parser().Run(text); }

std::string FormatMessage(const SensorFileMessage& message) {
    if (message.line == 0) { return message.text; }
    return "line " + std::to_string(message.line) + ": " + message.text;
}

StoredVariant SensorValueAt(const SensorDefinition& sensor, double seconds, std::mt19937& random) {
    switch (sensor.generator) {
        case Generator::fixed: return sensor.fixed;
        case Generator::now: {
            SYSTEMTIME now{};
            ::GetLocalTime(&now);
            now.wMilliseconds = 0;
            VARIANT v = Empty(VT_DATE);
            ::SystemTimeToVariantTime(&now, &v.date);
            return StoreVariant(v);
        }
        case Generator::toggle: {
            VARIANT v = Empty(VT_BOOL);
            const bool on = static_cast<long long>(std::floor(seconds / sensor.period)) % 2 == 1;
            v.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
            return StoreVariant(v);
        }
        case Generator::random:
            if (sensor.type == VT_BOOL) {
                VARIANT v = Empty(VT_BOOL);
                v.boolVal = (random() & 1) ? VARIANT_TRUE : VARIANT_FALSE;
                return StoreVariant(v);
            }
            break;
        default: break;
    }
    double value = 0;
    if (sensor.generator == Generator::ramp) {
        const double phase = seconds / sensor.period - std::floor(seconds / sensor.period);
        value = sensor.low + (sensor.high - sensor.low) * phase;
    } else if (sensor.generator == Generator::sine) {
        const double middle = (sensor.low + sensor.high) / 2;
        const double amplitude = (sensor.high - sensor.low) / 2;
        value = middle + amplitude * std::sin(2 * 3.14159265358979323846 * seconds / sensor.period);
    } else {
        value = std::uniform_real_distribution<double>(sensor.low, sensor.high)(random);
    }
    // A ramp may run downwards; no step of the arithmetic may leave the given range.
    const double lowest = std::min(sensor.low, sensor.high);
    const double highest = std::max(sensor.low, sensor.high);
    value = std::min(std::max(value, lowest), highest);
    NumericRange range{};
    NumericRangeOf(sensor.type, &range);
    if (!range.integer) {
        const double rounded = Round3(value);
        if (rounded >= lowest && rounded <= highest) { value = rounded; }
    }
    return StoreVariant(NumericVariant(sensor.type, value));
}

}  // namespace vorkast::tools
