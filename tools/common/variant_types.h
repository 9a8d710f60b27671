// Names of the VARIANT types a sensor record can carry, shared by the sensor file format of
// vorkast-publish and the listing of vorkast-dump, so that what the dump prints can be typed
// back into a sensor file.
#pragma once

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

}  // namespace vorkast::tools
