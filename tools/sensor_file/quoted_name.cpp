#include "tools/sensor_file/quoted_name.h"

#include "sensors/table_layout.h"

#include <windows.h>

#include <cstdio>

namespace vorkast::tools {
namespace {

bool IsHigh(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Units that would be invisible or ambiguous on a line of text: controls, the line and
// paragraph separators, the byte-order mark, non-characters, and unpaired surrogates (handled
// by the caller).
bool NeedsEscape(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029 || c == 0xFEFF || c == 0xFFFE ||
           c == 0xFFFF || c == 0x00AD || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E);
}

void AppendUtf8(std::string& out, unsigned code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') { return c - '0'; }
    if (c >= 'a' && c <= 'f') { return c - 'a' + 10; }
    if (c >= 'A' && c <= 'F') { return c - 'A' + 10; }
    return -1;
}

// Strict UTF-8 (no ANSI fallback: a quoted name is always written as UTF-8).
bool AppendFromUtf8(std::wstring& units, std::string_view run) {
    if (run.empty()) { return true; }
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, run.data(), static_cast<int>(run.size()),
                                        nullptr, 0);
    if (n <= 0) { return false; }
    const std::size_t at = units.size();
    units.resize(at + static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, run.data(), static_cast<int>(run.size()), &units[at], n);
    return true;
}

}  // namespace

std::string QuoteName(std::wstring_view units) {
    std::string out = "\"";
    for (std::size_t i = 0; i < units.size(); ++i) {
        const wchar_t c = units[i];
        if (c == L'"') {
            out += "\\\"";
        } else if (c == L'\\') {
            out += "\\\\";
        } else if (c == L'\t') {
            out += "\\t";
        } else if (IsHigh(c) && i + 1 < units.size() && IsLow(units[i + 1])) {
            AppendUtf8(out, 0x10000u + ((static_cast<unsigned>(c) - 0xD800u) << 10) +
                                (static_cast<unsigned>(units[i + 1]) - 0xDC00u));
            ++i;
        } else if (IsHigh(c) || IsLow(c) || NeedsEscape(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else {
            AppendUtf8(out, static_cast<unsigned>(c));
        }
    }
    return out + "\"";
}

bool UnquoteName(std::string_view text, std::wstring* units, std::size_t* consumed, std::string* why) {
    units->clear();
    if (text.empty() || text.front() != '"') {
        *why = "a quoted name starts with '\"'";
        return false;
    }
    std::size_t run_start = 1;
    auto flush = [&](std::size_t end) {
        if (!AppendFromUtf8(*units, text.substr(run_start, end - run_start))) {
            *why = "the quoted name is not valid UTF-8 (write other code units as \\uXXXX)";
            return false;
        }
        return true;
    };
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (!flush(i)) { return false; }
            *consumed = i + 1;
            if (units->size() > kSensorNameUnits) {
                *why = "the name is " + std::to_string(units->size()) + " UTF-16 units long; a record's field holds " +
                       std::to_string(kSensorNameUnits) + " (322 fill it with no terminator)";
                return false;
            }
            return true;
        }
        if (c != '\\') { continue; }
        if (!flush(i)) { return false; }
        if (i + 1 >= text.size()) { break; }
        const char e = text[++i];
        switch (e) {
            case '"': units->push_back(L'"'); break;
            case '\\': units->push_back(L'\\'); break;
            case 't': units->push_back(L'\t'); break;
            case 'n': units->push_back(L'\n'); break;
            case 'r': units->push_back(L'\r'); break;
            case 'u': {
                unsigned value = 0;
                for (int k = 1; k <= 4; ++k) {
                    const int d = i + k < text.size() ? HexDigit(text[i + k]) : -1;
                    if (d < 0) {
                        *why = "\\u takes four hexadecimal digits (one UTF-16 code unit)";
                        return false;
                    }
                    value = value * 16 + static_cast<unsigned>(d);
                }
                if (value == 0) {
                    *why = "a name cannot hold \\u0000: a zero unit ends the name";
                    return false;
                }
                units->push_back(static_cast<wchar_t>(value));
                i += 4;
                break;
            }
            default:
                *why = std::string("unknown escape '\\") + e + "' in the quoted name (one of \\\" \\\\ \\t \\n \\r \\uXXXX)";
                return false;
        }
        run_start = i + 1;
    }
    *why = "the quoted name has no closing '\"'";
    return false;
}

}  // namespace vorkast::tools
