// The value types of a sensor file: the keyword of each VARIANT type a record can carry (shared
// with vorkast-dump's listing, so that what the dump prints can be typed back into a file), the
// range of each number type, and how a number becomes a stored value of a type.
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

namespace vorkast::tools {

// The keyword of a type ("r8", "bool", "bstr"), with "byref " / "array of " in front where
// those flags are set, or "vt 0x1234" for a tag without a name.
std::string TypeName(VARTYPE type);

// The by-value type for a keyword (letter case ignored); false for an unknown keyword or one
// that names a type that refers to memory (its VARTYPE still comes back in `type`).
bool TypeFromKeyword(std::string_view keyword, VARTYPE* type, bool* by_value);

// The keywords of every by-value type, for messages ("empty, null, bool, ...").
const char* ByValueKeywords();

// The range of a number type, as doubles (for generator bounds, fixed reals and rounding).
struct NumericRange {
    double low;
    double high;
    bool integer;
};

// False for a type that is no number (bool, date, error, empty, null, ...).
bool NumericRangeOf(VARTYPE type, NumericRange* range);

// "-128 to 127", for messages.
std::string RangeText(const NumericRange& range);

bool IsUnsignedType(VARTYPE type);

// A stored value of `type` with every byte zero but the tag, so that no stray bytes reach the
// table.
StoredVariant ZeroValue(VARTYPE type);

// A whole-number value of an integer `type` from a value already known to be in range: `s` for
// the signed types, `u` for the unsigned ones.
StoredVariant IntegerValue(VARTYPE type, long long s, unsigned long long u);

// A number type's value holding `value`, kept in the type's range and rounded for integers.
StoredVariant NumericValue(VARTYPE type, double value);

StoredVariant BoolValue(bool value);
StoredVariant DateValue(double date);

}  // namespace vorkast::tools
