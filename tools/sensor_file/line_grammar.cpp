#include "tools/sensor_file/line_grammar.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vorkast::tools {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) { text.remove_prefix(1); }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) { text.remove_suffix(1); }
    return text;
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) { ++i; }
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) { ++i; }
        if (i > start) { words.push_back(text.substr(start, i - start)); }
    }
    return words;
}

std::vector<std::string_view> SplitColumns(std::string_view text) {
    std::vector<std::string_view> columns;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        columns.push_back(Trim(text.substr(start, bar - start)));
        if (bar == std::string_view::npos) { return columns; }
        start = bar + 1;
    }
}

std::string_view WithoutComment(std::string_view text) {
    return Trim(text.substr(0, text.find('#')));
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') { c = static_cast<char>(c - 'A' + 'a'); }
    }
    return lower;
}

std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

bool ParseReal(std::string_view token, double* value) {
    if (token.empty() || token.size() > 64) { return false; }
    const std::string text(token);
    if (text.find_first_not_of("+-0123456789.eE") != std::string::npos) { return false; }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) { return false; }
    *value = v;
    return true;
}

bool ParseInteger(std::string_view token, bool* negative, unsigned long long* magnitude) {
    *negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        *negative = token[0] == '-';
        token.remove_prefix(1);
    }
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    }
    if (token.empty()) { return false; }
    for (char c : token) {
        const bool digit = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hex)) { return false; }
    }
    errno = 0;
    const std::string text(token);
    *magnitude = std::strtoull(text.c_str(), nullptr, base);
    return errno != ERANGE;
}

bool ParseWhole(std::string_view token, unsigned long long max, unsigned long long* value) {
    bool negative = false;
    return ParseInteger(token, &negative, value) && !negative && *value <= max;
}

bool ParseWord32(std::string_view token, std::uint32_t* value) {
    bool negative = false;
    unsigned long long magnitude = 0;
    if (!ParseInteger(token, &negative, &magnitude) ||
        (negative ? magnitude > 2147483648ull : magnitude > 0xFFFFFFFFull)) {
        return false;
    }
    *value = negative ? 0u - static_cast<std::uint32_t>(magnitude) : static_cast<std::uint32_t>(magnitude);
    return true;
}

}  // namespace vorkast::tools
