// A fixed value's text in the value column, both ways: reading the text of a type into the 16
// stored bytes, and writing stored bytes back as the text that reads back to exactly them.
//
//     r8 | 45.5      i4 | 0x7F      bool | yes      date | 2024-05-06 07:45:12
//     raw | 08 00 00 00 00 00 00 00 ef be ad de 00 00 00 00      (16 bytes, type tag first)
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

namespace vorkast::tools {

// Reads the value column `text` of a by-value `type` (no generator). On failure `why` says
// what is wrong, for a message on the line.
bool ParseFixedValue(VARTYPE type, std::string_view text, StoredVariant* value, std::string* why);

// Reads the value column of `raw`: 16 bytes in hexadecimal, blanks between them allowed.
bool ParseRawValue(std::string_view text, StoredVariant* value, std::string* why);

// The type and value columns ("r8 | 61.5", "raw | 05 00 ...  # r8") that read back to exactly
// these 16 bytes: a typed value where its text reads back to the same bits (`%.17g` or shorter
// for reals), the raw bytes otherwise (padding that is not zero, NaN, a fraction of a second
// in a date, a DECIMAL that is no number, a pointer type).
std::string ExactValueColumns(const StoredVariant& stored);

}  // namespace vorkast::tools
