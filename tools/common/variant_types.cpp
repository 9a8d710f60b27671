#include "tools/common/variant_types.h"

#include <cstdio>

namespace vorkast::tools {
namespace {

struct TypeKeyword {
    const char* keyword;
    VARTYPE type;
    bool by_value;
};

constexpr TypeKeyword kTypes[] = {
    {"empty", VT_EMPTY, true},     {"null", VT_NULL, true},       {"bool", VT_BOOL, true},
    {"i1", VT_I1, true},           {"i2", VT_I2, true},           {"i4", VT_I4, true},
    {"i8", VT_I8, true},           {"ui1", VT_UI1, true},         {"ui2", VT_UI2, true},
    {"ui4", VT_UI4, true},         {"ui8", VT_UI8, true},         {"int", VT_INT, true},
    {"uint", VT_UINT, true},       {"r4", VT_R4, true},           {"r8", VT_R8, true},
    {"cy", VT_CY, true},           {"decimal", VT_DECIMAL, true}, {"date", VT_DATE, true},
    {"error", VT_ERROR, true},
    // Types that refer to memory: named for the dump, refused by the sensor file.
    {"bstr", VT_BSTR, false},      {"dispatch", VT_DISPATCH, false},
    {"unknown", VT_UNKNOWN, false}, {"variant", VT_VARIANT, false},
    {"record", VT_RECORD, false},  {"lpstr", VT_LPSTR, false},   {"lpwstr", VT_LPWSTR, false},
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) { return false; }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) { return false; }
    }
    return true;
}

}  // namespace

bool IsByValueType(VARTYPE type) {
    for (const auto& t : kTypes) {
        if (t.type == type) { return t.by_value; }
    }
    return false;  // flags set, or a tag we do not know: never treat it as data
}

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
    for (const auto& t : kTypes) {
        if (EqualsIgnoringCase(keyword, t.keyword)) {
            *type = t.type;
            *by_value = t.by_value;
            return t.by_value;
        }
    }
    *by_value = false;
    return false;
}

const char* ByValueKeywords() {
    return "empty, null, bool, i1, i2, i4, i8, ui1, ui2, ui4, ui8, int, uint, r4, r8, cy, "
           "decimal, date, error (and raw for 16 bytes as given)";
}

}  // namespace vorkast::tools
