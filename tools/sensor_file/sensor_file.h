// The sensor file: a "VorkastSensors" table written as text, one record a line,
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
// A file whose first line (after blank and comment lines) is `@vorkast-sensor-file 2` may
// also say what the first form cannot; vorkast-dump writes this form when it captures a live
// table (files of the first form read exactly as before):
//
//     @vorkast-sensor-file 2
//     @table version 1 count 20 reserved 0x0000 section-bytes 12288
//     "  Fan | 2  " | i4 | 1350              # a quoted name (quoted_name.h)
//     ""            | raw | 08 00 ... 00 | busy 1
//     @at 500                                # a recording: changes at times since the start
//     @set 2 | i4 | 1360
//     @header version 1 count 21 reserved 0x0000
//     @name 3 "Pump"
//     @end 1000
//
// Where each part lives: the pieces of a line (line_grammar.h), quoted names (quoted_name.h),
// type keywords and value texts (value_types.h, value_text.h), generators (generators.h), the
// parser (parser.cpp, its `@` lines in directives.cpp), how a recording plays out over time
// (recording.h), and the writer that turns a table into this text (writer.h).
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vorkast::tools {

// The line that starts a file in the second form.
inline constexpr char kFormat2Line[] = "@vorkast-sensor-file 2";

// The largest section a file may ask for (`@table section-bytes`, `--section-bytes`): 512 MiB,
// which a 32-bit publisher can map as one view (its largest free stretch of address space is
// not much larger: about 540 MiB under Wine). vorkast-dump does not capture a larger section,
// since it could not be served again.
inline constexpr unsigned long long kMaxSectionBytes = 512ull << 20;

// The most records a header's count can claim. A second-form file may list records beyond
// them where its section makes room: no reader reaches them, but a capture keeps them.
inline constexpr std::size_t kMostCountedRecords = std::numeric_limits<std::uint16_t>::max();

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
    std::wstring name;        // as stored in the record (322 units: no terminator)
    VARTYPE type = VT_EMPTY;  // the variant type (for raw: the tag in the given bytes)
    bool raw = false;         // 16 bytes stored exactly as given
    Generator generator = Generator::fixed;
    double low = 0;           // ramp: FROM; sine, random: MIN
    double high = 0;          // ramp: TO;   sine, random: MAX
    double period = 0;        // ramp, sine, toggle: seconds
    StoredVariant fixed{};    // the stored bytes of a fixed or raw value
    std::int32_t busy = 0;    // the busy word as captured (the busy column; 0 without one)
};

// What `@table` says about the header and the section; what it leaves out is not `given`.
struct TableShape {
    bool version_given = false;
    std::uint32_t version = kSensorTableVersion;
    bool count_given = false;
    std::uint16_t count = 0;
    std::uint16_t reserved = 0;     // the header's bytes 6 and 7, which readers do not read
    std::size_t section_bytes = 0;  // 0: room for the records
};

// One change of a recording, `at_ms` after the recording began.
struct RecordedChange {
    enum class Kind { value, name, header };
    int line = 0;
    unsigned long long at_ms = 0;
    Kind kind = Kind::value;
    std::size_t index = 0;         // value, name: the record (0-based)
    StoredVariant value{};         // value: the new 16 bytes
    std::int32_t busy = 0;         // value: the busy word after the change
    std::wstring name;             // name: the new code units (322: no terminator)
    std::uint32_t version = 0;     // header
    std::uint16_t count = 0;       // header
    bool reserved_given = false;   // header: recordings before the reserved word was kept lack it
    std::uint16_t reserved = 0;    // header
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

    int format = 1;                        // 2 after `@vorkast-sensor-file 2`
    TableShape table;                      // from `@table`
    std::vector<RecordedChange> changes;   // a recording's changes, in time order
    unsigned long long end_ms = 0;         // `@end`: the recording's length (0: none given)
    bool is_recording() const { return !changes.empty() || end_ms != 0; }
};

// Parses a whole file's contents. Never throws for bad input: everything wrong is in `errors`,
// each with its line; a file with any error is not to be published.
SensorFile ParseSensorFile(std::string_view text);

// "line 3: unknown type 'float' ..." (or the text alone for line 0).
std::string FormatMessage(const SensorFileMessage& message);

}  // namespace vorkast::tools
