// The quoted form of a sensor name in a sensor file: any name a record's field can hold,
// written on one line of UTF-8 text and read back to the same UTF-16 code units.
//
//     "CPU Package"   "  two blanks around  "   "Fan | 2"   "#1"   ""   "tab\there"
//     "Temp °C"       "half a pair: \uD800"     "quote \" and backslash \\"
//
// Between the quotes every character stands for itself, except the escapes \" \\ \t \n \r and
// \uXXXX (one UTF-16 code unit in hexadecimal, unpaired surrogates included). A name of 322
// units fills its record's field with no terminator.
#pragma once

#include <string>
#include <string_view>

namespace vorkast::tools {

// The quoted form of `units`. Printable ASCII and valid characters beyond it are written as
// they are (as UTF-8); control characters, unpaired surrogates and invisible format
// characters as \uXXXX.
std::string QuoteName(std::wstring_view units);

// Reads a quoted name at the start of `text` (which begins with '"'). On success `units` holds
// its code units and `consumed` the bytes up to and including the closing quote; otherwise
// `why` says what is wrong.
bool UnquoteName(std::string_view text, std::wstring* units, std::size_t* consumed, std::string* why);

}  // namespace vorkast::tools
