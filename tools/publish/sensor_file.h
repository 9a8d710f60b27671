// The sensor file of vorkast-publish: one sensor a line,
//
//     name | type | value or generator
//
// for example
//
//     # temperatures in degrees Celsius
//     CPU Package   | r8   | sine 45 78 30
//     CPU Fan       | i4   | random 1150 1250
//     Fan Failure   | bool | false
//     Boot Time     | date | 2024-05-06 07:45:12
//
// Blank lines and lines whose first non-blank character is '#' are skipped; in the value
// column a '#' starts a comment. The name is everything before the first '|', blanks around it
// trimmed; it cannot hold '|'. The file is UTF-8 (a byte-order mark is skipped); a line that is
// not valid UTF-8 is read in the ANSI code page.
//
// The parser reports every bad line with its number; a file with any error publishes nothing.
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>
#include <oaidl.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vorkast::tools {

enum class Generator {
    fixed,   // the value as written
    ramp,    // ramp FROM TO SECONDS: linear from FROM to TO, then again from FROM
    sine,    // sine MIN MAX SECONDS: a sine wave between MIN and MAX, starting in the middle
    random,  // random MIN MAX: uniform in [MIN, MAX] at every update (bool: random true/false)
    toggle,  // toggle SECONDS: bool, false for SECONDS, then true for SECONDS, and so on
    now,     // now: date, the local time of each update
};

struct SensorDefinition {
    int line = 0;             // 1-based line in the file
    std::wstring name;        // as stored in the record
    VARTYPE type = VT_EMPTY;  // the variant type (for raw: the tag in the given bytes)
    bool raw = false;         // 16 bytes stored exactly as given
    Generator generator = Generator::fixed;
    double low = 0;           // ramp: FROM; sine, random: MIN
    double high = 0;          // ramp: TO;   sine, random: MAX
    double period = 0;        // ramp, sine, toggle: seconds
    StoredVariant fixed{};    // the stored bytes of a fixed or raw value
};

struct SensorFileMessage {
    int line = 0;  // 1-based; 0 for the file as a whole
    std::string text;
};

struct SensorFile {
    std::vector<SensorDefinition> sensors;
    std::vector<SensorFileMessage> errors;
    std::vector<SensorFileMessage> warnings;
    bool ok() const { return errors.empty(); }
};

// Parses a whole file's contents. Never throws for bad input: everything wrong is in `errors`.
SensorFile ParseSensorFile(std::string_view text);

// "line 3: unknown type 'float' ..." (or the text alone for line 0).
std::string FormatMessage(const SensorFileMessage& message);

// The built-in sensor set used when no file is given: temperatures, fan speeds, voltages, a
// load percentage, a Boolean and dates, in the format above.
extern const char kDefaultSensorFile[];

// The value of `sensor` `seconds` after publishing began, as stored bytes. Fixed and raw
// sensors give their fixed bytes; integer types are rounded and kept in their type's range;
// generated real numbers are rounded to 3 decimal places.
StoredVariant SensorValueAt(const SensorDefinition& sensor, double seconds, std::mt19937& random);

}  // namespace vorkast::tools
