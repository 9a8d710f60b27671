// A test name from a case's description, for parameterized suites: "a name found, then its
// value" becomes "ANameFoundThenItsValue".
#pragma once

#include <string>

namespace vorkast::test {

inline std::string CaseName(const char* what) {
    std::string name;
    bool word_start = true;
    for (const char* p = what; *p != 0; ++p) {
        const char c = *p;
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) {
            word_start = true;
            continue;
        }
        name += word_start && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        word_start = false;
    }
    return name;
}

}  // namespace vorkast::test
