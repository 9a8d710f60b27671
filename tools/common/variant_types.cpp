#include "tools/common/variant_types.h"

#include "sensors/table_layout.h"

#include <cstdio>

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

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) { return false; }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) { return false; }
    }
    return true;
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
    for (const auto& t : kTypes) {
        if (EqualsIgnoringCase(keyword, t.keyword)) {
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

}  // namespace vorkast::tools
