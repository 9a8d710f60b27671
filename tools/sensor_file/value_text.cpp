#include "tools/sensor_file/value_text.h"

#include "tools/sensor_file/line_grammar.h"
#include "tools/sensor_file/value_types.h"

#include <oleauto.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorkast::tools {
namespace {

constexpr LCID kInvariantLocale = 0x007F;

// ---- Reading -----------------------------------------------------------------------------------

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// YYYY-MM-DD, optionally followed by a blank or 'T' and HH:MM or HH:MM:SS.
bool ParseDate(std::string_view text, double* date, std::string* why) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    const std::string t(text);
    const int fields = std::sscanf(t.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail);
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
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 ||
        d > kDays[mo - 1] + (mo == 2 && IsLeapYear(y) ? 1 : 0) || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59 || !::SystemTimeToVariantTime(&st, date)) {
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

bool ParseWholeValue(VARTYPE type, std::string_view text, const NumericRange& range, StoredVariant* value,
                     std::string* why) {
    const std::string type_name = TypeName(type);
    bool negative = false;
    unsigned long long magnitude = 0;
    if (!ParseInteger(text, &negative, &magnitude)) {
        *why = Quote(text) + " is not a whole number (type " + type_name + ")";
        return false;
    }
    const bool is_unsigned = IsUnsignedType(type);
    unsigned long long max_magnitude = static_cast<unsigned long long>(negative ? -range.low : range.high);
    if (type == VT_I8) { max_magnitude = negative ? 9223372036854775808ull : 9223372036854775807ull; }
    if (type == VT_UI8) { max_magnitude = 18446744073709551615ull; }
    if ((is_unsigned && negative && magnitude != 0) || magnitude > max_magnitude) {
        *why = Quote(text) + " is out of range for " + type_name;
        return false;
    }
    const long long s = negative ? static_cast<long long>(0ull - magnitude) : static_cast<long long>(magnitude);
    *value = IntegerValue(type, s, magnitude);
    return true;
}

bool ParseRealValue(VARTYPE type, std::string_view text, const NumericRange& range, StoredVariant* value,
                    std::string* why) {
    const std::string type_name = TypeName(type);
    double v = 0;
    if (!ParseReal(text, &v)) {
        *why = Quote(text) + " is not a number (type " + type_name + "; a decimal point, no thousands separators)";
        return false;
    }
    if (v < range.low || v > range.high) {
        *why = Quote(text) + " is out of range for " + type_name;
        return false;
    }
    if (type != VT_DECIMAL) {
        *value = NumericValue(type, v);
        return true;
    }
    // Exactly as written, not through a double.
    VARIANT d;
    std::memset(&d, 0, sizeof d);
    std::wstring wide(text.begin(), text.end());
    if (FAILED(::VarDecFromStr(wide.data(), kInvariantLocale, 0, &d.decVal))) {
        *why = Quote(text) + " cannot be stored as a decimal";
        return false;
    }
    d.vt = VT_DECIMAL;
    *value = StoreVariant(d);
    return true;
}

// ---- Writing -----------------------------------------------------------------------------------

std::string Format(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The shortest %g text that strtod reads back to `value`'s bits (or the 17-digit one).
std::string ShortestReal(double value) {
    for (int digits = 15; digits <= 17; ++digits) {
        const std::string text = Format("%.*g", digits, value);
        const double back = std::strtod(text.c_str(), nullptr);
        if (std::memcmp(&back, &value, sizeof back) == 0) { return text; }
    }
    return Format("%.17g", value);
}

std::string ShortestFloat(float value) {
    for (int digits = 6; digits <= 9; ++digits) {
        const std::string text = Format("%.*g", digits, static_cast<double>(value));
        const float back = static_cast<float>(std::strtod(text.c_str(), nullptr));
        if (std::memcmp(&back, &value, sizeof back) == 0) { return text; }
    }
    return Format("%.9g", static_cast<double>(value));
}

// The value column of a by-value type, or false where there is no typed text to try.
bool TypedValueText(const VARIANT& v, std::string* text) {
    switch (v.vt) {
        case VT_EMPTY: case VT_NULL: *text = ""; return true;
        case VT_BOOL:
            if (v.boolVal != VARIANT_TRUE && v.boolVal != VARIANT_FALSE) { return false; }
            *text = v.boolVal == VARIANT_TRUE ? "true" : "false";
            return true;
        case VT_I1: *text = std::to_string(static_cast<int>(v.cVal)); return true;
        case VT_UI1: *text = std::to_string(static_cast<unsigned>(v.bVal)); return true;
        case VT_I2: *text = std::to_string(v.iVal); return true;
        case VT_UI2: *text = std::to_string(v.uiVal); return true;
        case VT_I4: *text = std::to_string(static_cast<long>(v.lVal)); return true;
        case VT_INT: *text = std::to_string(v.intVal); return true;
        case VT_UI4: *text = std::to_string(static_cast<unsigned long>(v.ulVal)); return true;
        case VT_UINT: *text = std::to_string(v.uintVal); return true;
        case VT_I8: *text = std::to_string(static_cast<long long>(v.llVal)); return true;
        case VT_UI8: *text = std::to_string(static_cast<unsigned long long>(v.ullVal)); return true;
        case VT_R4: *text = ShortestFloat(v.fltVal); return true;
        case VT_R8: *text = ShortestReal(v.dblVal); return true;
        case VT_ERROR: *text = Format("0x%08lX", static_cast<unsigned long>(v.scode)); return true;
        case VT_CY: {
            const long long units = v.cyVal.int64;
            const unsigned long long magnitude = units < 0 ? 0ull - static_cast<unsigned long long>(units)
                                                           : static_cast<unsigned long long>(units);
            *text = (units < 0 ? "-" : "") + Format("%llu.%04llu", magnitude / 10000, magnitude % 10000);
            return true;
        }
        case VT_DECIMAL: {
            BSTR wide = nullptr;
            DECIMAL d = v.decVal;
            if (FAILED(::VarBstrFromDec(&d, kInvariantLocale, 0, &wide)) || wide == nullptr) { return false; }
            text->clear();
            for (const wchar_t* c = wide; *c != 0; ++c) {
                if (*c > 0x7F) { text->clear(); break; }
                text->push_back(static_cast<char>(*c));
            }
            ::SysFreeString(wide);
            return !text->empty();
        }
        case VT_DATE: {
            SYSTEMTIME t{};
            if (!::VariantTimeToSystemTime(v.date, &t)) { return false; }
            *text = Format("%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
            return true;
        }
        default: return false;
    }
}

}  // namespace

bool ParseFixedValue(VARTYPE type, std::string_view text, StoredVariant* value, std::string* why) {
    const std::string type_name = TypeName(type);
    if (type == VT_EMPTY || type == VT_NULL) {
        if (!text.empty()) {
            *why = "type " + type_name + " takes no value, found " + Quote(text);
            return false;
        }
        *value = ZeroValue(type);
        return true;
    }
    if (text.empty()) {
        *why = "the value is missing";
        return false;
    }
    if (type == VT_BOOL) {
        bool b = false;
        if (!ParseBool(text, &b)) {
            *why = Quote(text) + " is not a Boolean (true, false, yes, no, on, off, 1, 0; or toggle SECONDS, random)";
            return false;
        }
        *value = BoolValue(b);
        return true;
    }
    if (type == VT_DATE) {
        double date = 0;
        if (!ParseDate(text, &date, why)) { return false; }
        *value = DateValue(date);
        return true;
    }
    if (text.find_first_of(" \t") != std::string_view::npos) {
        *why = "expected one value or a generator (ramp, sine, random), found " + Quote(text);
        return false;
    }
    if (type == VT_ERROR) {
        std::uint32_t code = 0;
        if (!ParseWord32(text, &code)) {
            *why = Quote(text) + " is not a 32-bit status code (for example 0x80004005)";
            return false;
        }
        VARIANT v;
        std::memset(&v, 0, sizeof v);
        v.vt = VT_ERROR;
        v.scode = static_cast<SCODE>(code);
        *value = StoreVariant(v);
        return true;
    }
    NumericRange range{};
    NumericRangeOf(type, &range);
    return range.integer ? ParseWholeValue(type, text, range, value, why)
                         : ParseRealValue(type, text, range, value, why);
}

bool ParseRawValue(std::string_view text, StoredVariant* value, std::string* why) {
    std::string hex;
    for (char c : text) {
        if (c == ' ' || c == '\t') { continue; }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            *why = "raw takes 16 bytes as hexadecimal digits, found " + Quote(text);
            return false;
        }
        hex += c;
    }
    if (hex.size() != 32) {
        *why = "raw takes exactly 16 bytes (32 hexadecimal digits), found " + std::to_string(hex.size()) + " digits";
        return false;
    }
    for (std::size_t i = 0; i < 16; ++i) {
        value->bytes[i] = static_cast<unsigned char>(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
    }
    return true;
}

std::string ExactValueColumns(const StoredVariant& stored) {
    if (ClassifyStoredValue(stored) == StoredValueKind::convertible) {
        const VARIANT v = LoadStoredVariant(stored);
        std::string text;
        StoredVariant back{};
        std::string why;
        // The file's own reading decides: only a text that gives back these very bytes.
        if (TypedValueText(v, &text) && ParseFixedValue(v.vt, text, &back, &why) &&
            std::memcmp(back.bytes, stored.bytes, sizeof back.bytes) == 0) {
            return TypeName(v.vt) + " |" + (text.empty() ? "" : " " + text);
        }
    }
    std::string columns = "raw |";
    for (unsigned char b : stored.bytes) { columns += Format(" %02x", b); }
    return columns + "  # " + TypeName(StoredType(stored));
}

}  // namespace vorkast::tools
