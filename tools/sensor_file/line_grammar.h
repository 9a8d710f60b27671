// The pieces every line of a sensor file is made of: blanks, the '|' columns, '#' comments,
// and the whole and real numbers that values, busy words, times and sizes are written in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorkast::tools {

// `text` without blanks (spaces, tabs) at either end, nor a carriage return at the end.
std::string_view Trim(std::string_view text);

// The blank-separated words of `text`.
std::vector<std::string_view> SplitBlanks(std::string_view text);

// The '|'-separated columns of `text`, each trimmed; one column where there is no '|'.
std::vector<std::string_view> SplitColumns(std::string_view text);

// `text` up to a '#' (a comment runs to the end of the line), trimmed.
std::string_view WithoutComment(std::string_view text);

// ASCII letters in lower case; keywords are compared this way.
std::string Lower(std::string_view text);

// 'text', for messages.
std::string Quote(std::string_view text);

// A plain decimal number: optional sign, digits, optional fraction and exponent; finite.
bool ParseReal(std::string_view token, double* value);

// A whole number in decimal, or in hexadecimal after 0x; optional sign. False for anything
// else or a magnitude beyond 64 bits.
bool ParseInteger(std::string_view token, bool* negative, unsigned long long* magnitude);

// A whole number from 0 to `max`, decimal or 0x hexadecimal, no sign.
bool ParseWhole(std::string_view token, unsigned long long max, unsigned long long* value);

// A 32-bit word written signed (-2147483648 and up) or unsigned (up to 0xFFFFFFFF): busy
// words and status codes.
bool ParseWord32(std::string_view token, std::uint32_t* value);

}  // namespace vorkast::tools
