// The `@` directives of the second form of the sensor file: `@table` (the header and the
// section), and a recording's `@at`, `@set`, `@name`, `@header` and `@end`.
#include "tools/sensor_file/parser.h"

#include "tools/sensor_file/line_grammar.h"
#include "tools/sensor_file/quoted_name.h"

#include <algorithm>

namespace vorkast::tools {
namespace {

constexpr unsigned long long kMaxRecordingMs = 366ull * 24 * 3600 * 1000;

// The numbers `@table` takes, each optional: what it may be and where it goes.
struct TableKey {
    const char* key;
    unsigned long long min;
    unsigned long long max;
    void (*store)(TableShape&, unsigned long long);
};

constexpr TableKey kTableKeys[] = {
    {"version", 0, 0xFFFFFFFFull,
     [](TableShape& t, unsigned long long v) { t.version = static_cast<std::uint32_t>(v); t.version_given = true; }},
    {"count", 0, kMostCountedRecords,
     [](TableShape& t, unsigned long long v) { t.count = static_cast<std::uint16_t>(v); t.count_given = true; }},
    {"reserved", 0, 0xFFFF, [](TableShape& t, unsigned long long v) { t.reserved = static_cast<std::uint16_t>(v); }},
    {"section-bytes", 1, kMaxSectionBytes,
     [](TableShape& t, unsigned long long v) { t.section_bytes = static_cast<std::size_t>(v); }},
};

}  // namespace

const SensorFileParser::Directive SensorFileParser::kDirectives[] = {
    {"@table", &SensorFileParser::ParseTable, nullptr},
    {"@at", &SensorFileParser::ParseAt, nullptr},
    {"@set", nullptr, &SensorFileParser::ParseSet},
    {"@name", nullptr, &SensorFileParser::ParseNameChange},
    {"@header", nullptr, &SensorFileParser::ParseHeaderChange},
    {"@end", &SensorFileParser::ParseEnd, nullptr},
};

void SensorFileParser::ParseDirective(int line, std::string_view text) {
    const std::size_t split = text.find_first_of(" \t|");
    const std::string keyword(text.substr(0, split));
    const std::string_view rest = split == std::string_view::npos ? std::string_view() : Trim(text.substr(split));
    for (const Directive& d : kDirectives) {
        if (keyword != d.keyword) { continue; }
        if (d.line != nullptr) {
            (this->*d.line)(line, rest);
            return;
        }
        if (!recording_) {
            Error(line, keyword + " is a change of a recording: it needs a time first ('@at MS')");
            return;
        }
        RecordedChange change;
        change.line = line;
        change.at_ms = at_ms_;
        if ((this->*d.change)(line, rest, &change)) { file_.changes.push_back(std::move(change)); }
        return;
    }
    Error(line, "unknown line " + Quote(keyword) + " (one of @table, @at, @set, @name, @header, @end)");
}

void SensorFileParser::ParseTable(int line, std::string_view rest) {
    if (table_seen_ || !file_.sensors.empty() || recording_) {
        Error(line, "@table must come once, before the first sensor");
        return;
    }
    table_seen_ = true;
    const std::vector<std::string_view> words = SplitBlanks(WithoutComment(rest));
    if (words.size() % 2 != 0 || words.empty()) {
        Error(line, "@table takes pairs: version V, count C, reserved R, section-bytes S");
        return;
    }
    TableShape shape;
    for (std::size_t i = 0; i < words.size(); i += 2) {
        const std::string key = Lower(words[i]);
        const auto known = std::find_if(std::begin(kTableKeys), std::end(kTableKeys),
                                        [&](const TableKey& k) { return key == k.key; });
        if (known == std::end(kTableKeys)) {
            Error(line, "@table knows version, count, reserved and section-bytes, not " + Quote(words[i]));
            return;
        }
        unsigned long long v = 0;
        if (!ParseWhole(words[i + 1], known->max, &v) || v < known->min) {
            Error(line, "@table: " + Quote(words[i + 1]) + " is not a valid " + key + " (" +
                            std::to_string(known->min) + " to " + std::to_string(known->max) + ")");
            return;
        }
        known->store(shape, v);
    }
    file_.table = shape;
}

bool SensorFileParser::ParseTime(int line, const char* keyword, std::string_view rest, const char* takes,
                                 const char* too_early, unsigned long long* ms) {
    const std::vector<std::string_view> words = SplitBlanks(WithoutComment(rest));
    if (words.size() != 1 || !ParseWhole(words[0], kMaxRecordingMs, ms)) {
        Error(line, std::string(keyword) + " takes " + takes + ", found " + Quote(rest));
        return false;
    }
    if (*ms < at_ms_) {
        Error(line, std::string(keyword) + " " + std::to_string(*ms) + " " + too_early + std::to_string(at_ms_) +
                        ")");
        return false;
    }
    recording_ = true;
    return true;
}

void SensorFileParser::ParseAt(int line, std::string_view rest) {
    unsigned long long at = 0;
    if (ParseTime(line, "@at", rest, "the milliseconds since the recording began",
                  "goes back in time (the last was @at ", &at)) {
        at_ms_ = at;
    }
}

void SensorFileParser::ParseEnd(int line, std::string_view rest) {
    unsigned long long end = 0;
    if (ParseTime(line, "@end", rest, "the recording's length in milliseconds", "lies before the last change (@at ",
                  &end)) {
        file_.end_ms = end;
        ended_ = true;
    }
}

std::size_t SensorFileParser::ChangeableRecords() const {
    return file_.table.section_bytes != 0 ? WholeRecords(file_.table.section_bytes) : file_.sensors.size();
}

bool SensorFileParser::ParseRecordNumber(int line, std::string_view word, std::size_t* index) {
    unsigned long long number = 0;
    const std::size_t records = ChangeableRecords();
    if (!ParseWhole(word, records, &number) || number == 0) {
        Error(line, Quote(word) + " is not a record of the table (1 to " + std::to_string(records) + ")");
        return false;
    }
    *index = static_cast<std::size_t>(number - 1);
    return true;
}

bool SensorFileParser::ParseSet(int line, std::string_view rest, RecordedChange* change) {
    std::vector<std::string_view> columns = SplitColumns(rest);
    if (columns.size() < 2) {
        Error(line, "expected '@set NUMBER | type | value'");
        return false;
    }
    if (!ParseRecordNumber(line, columns[0], &change->index)) { return false; }
    columns.erase(columns.begin());
    SensorDefinition value;
    if (!ParseValueColumns(line, columns, &value)) { return false; }
    if (value.generator != Generator::fixed) {
        Error(line, "a recorded change takes a fixed value or raw bytes, not a generator");
        return false;
    }
    change->kind = RecordedChange::Kind::value;
    change->value = value.fixed;
    change->busy = value.busy;
    return true;
}

bool SensorFileParser::ParseNameChange(int line, std::string_view rest, RecordedChange* change) {
    const std::size_t quote = rest.find('"');
    const std::vector<std::string_view> number = SplitBlanks(rest.substr(0, quote));
    if (quote == std::string_view::npos || number.size() != 1) {
        Error(line, "expected '@name NUMBER \"name\"'");
        return false;
    }
    if (!ParseRecordNumber(line, number[0], &change->index)) { return false; }
    std::size_t consumed = 0;
    std::string why;
    if (!UnquoteName(rest.substr(quote), &change->name, &consumed, &why)) {
        Error(line, why);
        return false;
    }
    const std::string_view tail = Trim(rest.substr(quote + consumed));
    if (!tail.empty() && tail.front() != '#') {
        Error(line, "unexpected " + Quote(tail) + " after the name");
        return false;
    }
    change->kind = RecordedChange::Kind::name;
    return true;
}

bool SensorFileParser::ParseHeaderChange(int line, std::string_view rest, RecordedChange* change) {
    const std::vector<std::string_view> words = SplitBlanks(WithoutComment(rest));
    unsigned long long version = 0, count = 0, reserved = 0;
    const bool reserved_given = words.size() == 6;
    if ((words.size() != 4 && !reserved_given) || Lower(words[0]) != "version" || Lower(words[2]) != "count" ||
        !ParseWhole(words[1], 0xFFFFFFFFull, &version) || !ParseWhole(words[3], kMostCountedRecords, &count) ||
        (reserved_given && (Lower(words[4]) != "reserved" || !ParseWhole(words[5], 0xFFFF, &reserved)))) {
        Error(line, "expected '@header version V count C' (and 'reserved R'), found " + Quote(rest));
        return false;
    }
    change->kind = RecordedChange::Kind::header;
    change->version = static_cast<std::uint32_t>(version);
    change->count = static_cast<std::uint16_t>(count);
    change->reserved_given = reserved_given;
    change->reserved = static_cast<std::uint16_t>(reserved);
    return true;
}

}  // namespace vorkast::tools
