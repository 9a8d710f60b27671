#include "tools/sensor_file/value_types.h"

#include "tools/sensor_file/line_grammar.h"

#include <oleauto.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vorkast::tools {
namespace {

struct TypeKeyword {
    const char* keyword;
    VARTYPE type;
};

// Every by-value type, and the types that refer to memory (named for the dump, refused by the
// sensor file). Which is which is the table layout's rule, IsByValueType.
constexpr TypeKeyword kTypes[] = {
    {"empty", VT_EMPTY},     {"null", VT_NULL},       {"bool", VT_BOOL},
    {"i1", VT_I1},           {"i2", VT_I2},           {"i4", VT_I4},
    {"i8", VT_I8},           {"ui1", VT_UI1},         {"ui2", VT_UI2},
    {"ui4", VT_UI4},         {"ui8", VT_UI8},         {"int", VT_INT},
    {"uint", VT_UINT},       {"r4", VT_R4},           {"r8", VT_R8},
    {"cy", VT_CY},           {"decimal", VT_DECIMAL}, {"date", VT_DATE},
    {"error", VT_ERROR},
    {"bstr", VT_BSTR},       {"dispatch", VT_DISPATCH},
    {"unknown", VT_UNKNOWN}, {"variant", VT_VARIANT},
    {"record", VT_RECORD},   {"lpstr", VT_LPSTR},     {"lpwstr", VT_LPWSTR},
};

struct TypeRange {
    VARTYPE type;
    NumericRange range;
};

// The double bounds of 64-bit integers are rounded; values are clamped just inside.
constexpr TypeRange kRanges[] = {
    {VT_I1, {-128.0, 127.0, true}},
    {VT_UI1, {0.0, 255.0, true}},
    {VT_I2, {-32768.0, 32767.0, true}},
    {VT_UI2, {0.0, 65535.0, true}},
    {VT_I4, {-2147483648.0, 2147483647.0, true}},
    {VT_INT, {-2147483648.0, 2147483647.0, true}},
    {VT_UI4, {0.0, 4294967295.0, true}},
    {VT_UINT, {0.0, 4294967295.0, true}},
    {VT_I8, {-9223372036854774784.0, 9223372036854774784.0, true}},
    {VT_UI8, {0.0, 18446744073709549568.0, true}},
    {VT_R4, {-3.4028234e38, 3.4028234e38, false}},
    {VT_R8, {-1.7976931348623157e308, 1.7976931348623157e308, false}},
    {VT_CY, {-922337203685477.0, 922337203685477.0, false}},
    {VT_DECIMAL, {-7.9e28, 7.9e28, false}},
};

VARIANT ZeroVariant(VARTYPE type) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = type;
    return v;
}

}  // namespace

std::string TypeName(VARTYPE type) {
    std::string prefix;
    if (type & VT_BYREF) { prefix += "byref "; }
    if (type & VT_ARRAY) { prefix += "array of "; }
    if (type & VT_VECTOR) { prefix += "vector of "; }
    const VARTYPE base = type & VT_TYPEMASK;
    for (const auto& t : kTypes) {
        if (t.type == base) { return prefix + t.keyword; }
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "vt 0x%04x", static_cast<unsigned>(type));
    return tag;
}

bool TypeFromKeyword(std::string_view keyword, VARTYPE* type, bool* by_value) {
    const std::string lower = Lower(keyword);
    for (const auto& t : kTypes) {
        if (lower == t.keyword) {
            *type = t.type;
            *by_value = IsByValueType(t.type);
            return *by_value;
        }
    }
    *by_value = false;
    return false;
}

const char* ByValueKeywords() {
    return "empty, null, bool, i1, i2, i4, i8, ui1, ui2, ui4, ui8, int, uint, r4, r8, cy, "
           "decimal, date, error (and raw for 16 bytes as given)";
}

bool NumericRangeOf(VARTYPE type, NumericRange* range) {
    for (const TypeRange& r : kRanges) {
        if (r.type == type) {
            *range = r.range;
            return true;
        }
    }
    return false;
}

std::string RangeText(const NumericRange& range) {
    char text[96];
    std::snprintf(text, sizeof text, "%.17g to %.17g", range.low, range.high);
    return text;
}

bool IsUnsignedType(VARTYPE type) {
    return type == VT_UI1 || type == VT_UI2 || type == VT_UI4 || type == VT_UINT || type == VT_UI8;
}

StoredVariant ZeroValue(VARTYPE type) { return StoreVariant(ZeroVariant(type)); }

StoredVariant IntegerValue(VARTYPE type, long long s, unsigned long long u) {
    VARIANT v = ZeroVariant(type);
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
    return StoreVariant(v);
}

StoredVariant NumericValue(VARTYPE type, double value) {
    NumericRange range{};
    NumericRangeOf(type, &range);
    value = std::min(std::max(value, range.low), range.high);
    VARIANT v = ZeroVariant(type);
    switch (type) {
        case VT_R4: v.fltVal = static_cast<float>(value); break;
        case VT_R8: v.dblVal = value; break;
        case VT_CY:
            if (FAILED(::VarCyFromR8(value, &v.cyVal))) { v.cyVal.int64 = 0; }
            break;
        case VT_DECIMAL:
            if (FAILED(::VarDecFromR8(value, &v.decVal))) { std::memset(&v.decVal, 0, sizeof v.decVal); }
            v.vt = VT_DECIMAL;  // after the DECIMAL: its first two bytes are the type tag
            break;
        default: {
            const double rounded = std::nearbyint(value);
            if (IsUnsignedType(type)) { return IntegerValue(type, 0, static_cast<unsigned long long>(rounded)); }
            return IntegerValue(type, static_cast<long long>(rounded), 0);
        }
    }
    return StoreVariant(v);
}

StoredVariant BoolValue(bool value) {
    VARIANT v = ZeroVariant(VT_BOOL);
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return StoreVariant(v);
}

StoredVariant DateValue(double date) {
    VARIANT v = ZeroVariant(VT_DATE);
    v.date = date;
    return StoreVariant(v);
}

}  // namespace vorkast::tools
