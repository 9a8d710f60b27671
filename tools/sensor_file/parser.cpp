// The lines of a sensor file (sensor_file.h): a line is skipped (blank, comment), selects the
// second form, is an `@` directive of the second form (directives.cpp), or describes a record.
#include "tools/sensor_file/parser.h"

#include "tools/common/console.h"
#include "tools/sensor_file/generators.h"
#include "tools/sensor_file/line_grammar.h"
#include "tools/sensor_file/quoted_name.h"
#include "tools/sensor_file/value_text.h"
#include "tools/sensor_file/value_types.h"

#include <algorithm>
#include <cstring>

namespace vorkast::tools {
namespace {

constexpr std::size_t kMaxNameUnits = kSensorNameUnits - 1;  // 321, the terminator needs the rest

}  // namespace

SensorFile SensorFileParser::Run(std::string_view text) {
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

void SensorFileParser::ParseLine(int line, std::string_view raw) {
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

void SensorFileParser::ParseRecordLine(int line, std::string_view trimmed) {
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

std::size_t SensorFileParser::MostRecords() const {
    if (file_.format != 2 || file_.table.section_bytes == 0) { return kMostCountedRecords; }
    return std::max(kMostCountedRecords, WholeRecords(file_.table.section_bytes));
}

bool SensorFileParser::ParseName(int line, std::string_view text, SensorDefinition* sensor) {
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

bool SensorFileParser::ParseValueColumns(int line, const std::vector<std::string_view>& columns,
                                         SensorDefinition* sensor) {
    if (columns.empty() || columns.size() > (file_.format == 2 ? 3u : 2u)) {
        Error(line, "expected 'type | value' after the name" +
                        std::string(file_.format == 2 ? " (and at most a busy column)" : ""));
        return false;
    }
    const std::string_view value = columns.size() >= 2 ? WithoutComment(columns[1]) : std::string_view();
    if (!ParseTypeAndValue(line, columns[0], value, sensor)) { return false; }
    return columns.size() < 3 || ParseBusyColumn(line, WithoutComment(columns[2]), sensor);
}

bool SensorFileParser::ParseTypeAndValue(int line, std::string_view type_text, std::string_view value,
                                         SensorDefinition* sensor) {
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

bool SensorFileParser::ParseBusyColumn(int line, std::string_view text, SensorDefinition* sensor) {
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

SensorFile ParseSensorFile(std::string_view text) { return SensorFileParser().Run(text); }

std::string FormatMessage(const SensorFileMessage& message) {
    if (message.line == 0) { return message.text; }
    return "line " + std::to_string(message.line) + ": " + message.text;
}

}  // namespace vorkast::tools
