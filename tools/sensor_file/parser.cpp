// The parser of both forms of the sensor file (sensor_file.h): a line is skipped (blank,
// comment), selects the second form, is an `@` directive of the second form, or describes a
// record. Each bad line gives one error with its number and the parser goes on, so that a file
// shows all its faults at once.
#include "tools/sensor_file/sensor_file.h"

#include "tools/common/console.h"
#include "tools/sensor_file/generators.h"
#include "tools/sensor_file/line_grammar.h"
#include "tools/sensor_file/quoted_name.h"
#include "tools/sensor_file/value_text.h"
#include "tools/sensor_file/value_types.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace vorkast::tools {
namespace {

constexpr std::size_t kMaxNameUnits = kSensorNameUnits - 1;  // 321, the terminator needs the rest
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

class Parser {
public:
    SensorFile Run(std::string_view text) {
        if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) { text.remove_prefix(3); }
        int line_number = 0;
        for (;;) {
            ++line_number;
            const std::size_t end = text.find('\n');
            ParseLine(line_number, text.substr(0, end));
            if (end == std::string_view::npos) { break; }
            text.remove_prefix(end + 1);
            if (text.empty()) { break; }
        }
        return std::move(file_);
    }

private:
    // The directives of the second form. A change (@set, @name, @header) belongs to the time of
    // the last @at; the others stand alone.
    struct Directive {
        const char* keyword;
        void (Parser::*line)(int, std::string_view);
        bool (Parser::*change)(int, std::string_view, RecordedChange*);
    };
    static const Directive kDirectives[6];

    void Error(int line, std::string text) { file_.errors.push_back({line, std::move(text)}); }
    void Warning(int line, std::string text) { file_.warnings.push_back({line, std::move(text)}); }

    void ParseLine(int line, std::string_view raw) {
        const std::string_view trimmed = Trim(raw);
        if (trimmed.empty() || trimmed.front() == '#') { return; }
        if (ended_) {
            Error(line, "nothing may follow @end but blank and comment lines");
            return;
        }
        // The line that selects the second form holds no '|': in the first form it was an
        // error, so no old file changes its meaning.
        if (trimmed.find('|') == std::string_view::npos) {
            const std::vector<std::string_view> words = SplitBlanks(WithoutComment(trimmed));
            if (!words.empty() && words[0] == "@vorkast-sensor-file") {
                if (words.size() != 2 || words[1] != "2") {
                    Error(line, "this program reads '@vorkast-sensor-file 2' (or files without that line)");
                } else if (file_.format != 1 || content_seen_) {
                    Error(line, "'@vorkast-sensor-file 2' must come before every other line");
                } else {
                    file_.format = 2;
                }
                content_seen_ = true;
                return;
            }
        }
        content_seen_ = true;
        if (file_.format == 2 && trimmed.front() == '@') {
            ParseDirective(line, trimmed);
        } else {
            ParseRecordLine(line, trimmed);
        }
    }

    // ---- Record lines ----------------------------------------------------------------------

    void ParseRecordLine(int line, std::string_view trimmed) {
        SensorDefinition sensor;
        sensor.line = line;
        std::vector<std::string_view> columns;
        if (file_.format == 2 && trimmed.front() == '"') {
            std::size_t consumed = 0;
            std::string why;
            if (!UnquoteName(trimmed, &sensor.name, &consumed, &why)) {
                Error(line, why);
                return;
            }
            const std::string_view rest = Trim(trimmed.substr(consumed));
            if (rest.empty() || rest.front() != '|') {
                Error(line, "expected '|' after the quoted name");
                return;
            }
            columns = SplitColumns(rest.substr(1));
        } else {
            columns = SplitColumns(trimmed);
            if (columns.size() < 2) {
                Error(line, "expected 'name | type | value', found no '|'");
                return;
            }
            if (columns.size() > (file_.format == 2 ? 4u : 3u)) {
                Error(line, file_.format == 2 ? "too many '|' (expected 'name | type | value | busy N'; quote a "
                                                "name that holds '|')"
                                              : "too many '|' (expected 'name | type | value'; a name cannot hold '|')");
                return;
            }
            if (!ParseName(line, columns[0], &sensor)) { return; }
            columns.erase(columns.begin());
        }
        if (recording_) {
            Error(line, "a sensor line after the recording began (a change is '@set NUMBER | type | value')");
            return;
        }
        if (!ParseValueColumns(line, columns, &sensor)) { return; }

        const std::size_t most = MostRecords();
        if (file_.sensors.size() == most) {
            Error(line, most == kMostCountedRecords
                            ? "more than 65535 sensors: the table's count cannot hold them"
                            : "more than " + std::to_string(most) + " records: the section (section-bytes " +
                                  std::to_string(file_.table.section_bytes) + ") holds no more");
            return;
        }
        if (file_.sensors.size() == kRecordsReadByNumber) {
            Warning(line, "sensors from here on (number " + std::to_string(kRecordsReadByNumber + 1) +
                              " and above) cannot be read by number");
        }
        file_.sensors.push_back(std::move(sensor));
    }

    // The most records a file may list: what a count can claim, or in the second form every
    // whole record of the section it gives.
    std::size_t MostRecords() const {
        if (file_.format != 2 || file_.table.section_bytes == 0) { return kMostCountedRecords; }
        return std::max(kMostCountedRecords, WholeRecords(file_.table.section_bytes));
    }

    bool ParseName(int line, std::string_view text, SensorDefinition* sensor) {
        if (text.empty()) {
            Error(line, "the name is empty");
            return false;
        }
        sensor->name = FromUtf8OrAnsi(text);
        if (sensor->name.empty()) {
            Error(line, "the name cannot be read as text");
            return false;
        }
        if (sensor->name.size() > kMaxNameUnits) {
            Error(line, "the name is " + std::to_string(sensor->name.size()) +
                            " UTF-16 units long; a record holds at most 321");
            return false;
        }
        const auto seen = names_.find(sensor->name);
        if (seen != names_.end()) {
            Warning(line, "the name " + Quote(text) + " is used on line " + std::to_string(seen->second) +
                              " too; ValueByName finds the first");
        } else {
            names_.emplace(sensor->name, line);
        }
        if (std::any_of(sensor->name.begin(), sensor->name.end(), [](wchar_t c) { return c > 0xFF; })) {
            Warning(line, "the name holds characters beyond U+00FF: ValueByName cannot find it");
        }
        return true;
    }

    // `type | value [| busy N]` of a record line or a recorded change.
    bool ParseValueColumns(int line, const std::vector<std::string_view>& columns, SensorDefinition* sensor) {
        if (columns.empty() || columns.size() > (file_.format == 2 ? 3u : 2u)) {
            Error(line, "expected 'type | value' after the name" +
                            std::string(file_.format == 2 ? " (and at most a busy column)" : ""));
            return false;
        }
        const std::string_view value = columns.size() >= 2 ? WithoutComment(columns[1]) : std::string_view();
        if (!ParseTypeAndValue(line, columns[0], value, sensor)) { return false; }
        return columns.size() < 3 || ParseBusyColumn(line, WithoutComment(columns[2]), sensor);
    }

    bool ParseTypeAndValue(int line, std::string_view type_text, std::string_view value, SensorDefinition* sensor) {
        std::string why;
        if (type_text.empty()) {
            Error(line, "the type is missing (one of: " + std::string(ByValueKeywords()) + ")");
            return false;
        }
        if (Lower(type_text) == "raw") {
            if (!ParseRawValue(value, &sensor->fixed, &why)) {
                Error(line, why);
                return false;
            }
            sensor->raw = true;
            sensor->type = StoredType(sensor->fixed);
            return true;
        }
        bool by_value = false;
        if (!TypeFromKeyword(type_text, &sensor->type, &by_value)) {
            Error(line, sensor->type != VT_EMPTY
                            ? "type " + Quote(type_text) +
                                  " refers to memory and cannot be carried by the table (use raw to store such "
                                  "bytes on purpose)"
                            : "unknown type " + Quote(type_text) + " (one of: " + ByValueKeywords() + ")");
            return false;
        }
        const std::vector<std::string_view> words = SplitBlanks(value);
        const bool takes_value = sensor->type != VT_EMPTY && sensor->type != VT_NULL;
        const bool ok = takes_value && !words.empty() && IsGeneratorKeyword(words.front())
                            ? ParseGenerator(words, sensor, &why)
                            : ParseFixedValue(sensor->type, value, &sensor->fixed, &why);
        if (!ok) { Error(line, why); }
        return ok;
    }

    // The fourth column of the second form: `busy N`, the busy word as captured.
    bool ParseBusyColumn(int line, std::string_view text, SensorDefinition* sensor) {
        const std::vector<std::string_view> words = SplitBlanks(text);
        if (words.empty()) { return true; }
        std::uint32_t busy = 0;
        if (words.size() != 2 || Lower(words[0]) != "busy" || !ParseWord32(words[1], &busy)) {
            Error(line, "expected 'busy N' (a 32-bit busy word) in the fourth column, found " + Quote(text));
            return false;
        }
        sensor->busy = static_cast<std::int32_t>(busy);
        return true;
    }

    // ---- Directives ------------------------------------------------------------------------

    void ParseDirective(int line, std::string_view text) {
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

    // `@table version V count C reserved R section-bytes S`, each part optional, before the
    // first sensor.
    void ParseTable(int line, std::string_view rest) {
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

    // The time of `@at` or `@end`: milliseconds since the recording began, not before the
    // last `@at`. `takes` and `too_early` word the errors.
    bool ParseTime(int line, const char* keyword, std::string_view rest, const char* takes, const char* too_early,
                   unsigned long long* ms) {
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

    void ParseAt(int line, std::string_view rest) {
        unsigned long long at = 0;
        if (ParseTime(line, "@at", rest, "the milliseconds since the recording began",
                      "goes back in time (the last was @at ", &at)) {
            at_ms_ = at;
        }
    }

    void ParseEnd(int line, std::string_view rest) {
        unsigned long long end = 0;
        if (ParseTime(line, "@end", rest, "the recording's length in milliseconds", "lies before the last change (@at ",
                      &end)) {
            file_.end_ms = end;
            ended_ = true;
        }
    }

    // Records a change may address: every whole record of the section when its size is given,
    // else the records listed.
    std::size_t ChangeableRecords() const {
        return file_.table.section_bytes != 0 ? WholeRecords(file_.table.section_bytes) : file_.sensors.size();
    }

    // A record number of a change, 1 to ChangeableRecords().
    bool ParseRecordNumber(int line, std::string_view word, std::size_t* index) {
        unsigned long long number = 0;
        const std::size_t records = ChangeableRecords();
        if (!ParseWhole(word, records, &number) || number == 0) {
            Error(line, Quote(word) + " is not a record of the table (1 to " + std::to_string(records) + ")");
            return false;
        }
        *index = static_cast<std::size_t>(number - 1);
        return true;
    }

    // `@set NUMBER | type | value [| busy N]`
    bool ParseSet(int line, std::string_view rest, RecordedChange* change) {
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

    // `@name NUMBER "quoted name"`
    bool ParseNameChange(int line, std::string_view rest, RecordedChange* change) {
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

    // `@header version V count C [reserved R]`
    bool ParseHeaderChange(int line, std::string_view rest, RecordedChange* change) {
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

    SensorFile file_;
    std::map<std::wstring, int> names_;
    bool content_seen_ = false;  // a line other than blank or comment
    bool table_seen_ = false;
    bool recording_ = false;     // after the first @at
    bool ended_ = false;         // after @end
    unsigned long long at_ms_ = 0;
};

const Parser::Directive Parser::kDirectives[] = {
    {"@table", &Parser::ParseTable, nullptr},
    {"@at", &Parser::ParseAt, nullptr},
    {"@set", nullptr, &Parser::ParseSet},
    {"@name", nullptr, &Parser::ParseNameChange},
    {"@header", nullptr, &Parser::ParseHeaderChange},
    {"@end", &Parser::ParseEnd, nullptr},
};

}  // namespace

SensorFile ParseSensorFile(std::string_view text) { return Parser().Run(text); }

std::string FormatMessage(const SensorFileMessage& message) {
    if (message.line == 0) { return message.text; }
    return "line " + std::to_string(message.line) + ": " + message.text;
}

}  // namespace vorkast::tools
