// The writer of the sensor file's second form: a table as a reader sees it, turned into the
// text that vorkast-publish serves again exactly (a capture), and the lines of its changes
// over time (a recording).
#pragma once

#include "sensors/table_layout.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorkast::tools {

// A record as a reader sees it: the name up to its terminator (all 322 units without one), the
// busy word and the 16 value bytes. The bytes no reader looks at are not part of it.
struct RecordSnapshot {
    std::wstring name;
    std::int32_t busy = 0;
    StoredVariant value{};

    bool same_value(const RecordSnapshot& other) const;
    // No name, not busy, every value byte 0: what a new section holds anyway.
    bool is_zero() const;
};

// A whole table as a reader sees it.
struct TableSnapshot {
    std::size_t readable = 0;  // the view's readable bytes
    bool has_header = false;   // false: fewer than 8 bytes, and no records
    std::uint32_t version = 0;
    std::uint16_t count = 0;
    std::uint16_t reserved = 0;
    std::vector<RecordSnapshot> records;  // every whole record in the view
};

// The table as a file of the second form: a comment with the local time, the format line,
// `@table`, and a line for every record up to the last one that is not all zeros.
std::string CaptureText(const TableSnapshot& table);

// The change lines (`@header`, `@name`, `@set`) of every difference between two snapshots of
// the same table, in that order; "" when there is none.
std::string ChangeLines(const TableSnapshot& before, const TableSnapshot& now);

// `@at MS` and `@end MS`.
std::string AtLine(unsigned long long ms);
std::string EndLine(unsigned long long ms);

}  // namespace vorkast::tools
