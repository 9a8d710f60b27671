// The parser of the sensor file, shared by its two source files inside this library:
// parser.cpp reads the lines (blank, comment, the form line, record lines) and directives.cpp
// the `@` directives of the second form. Everyone else calls ParseSensorFile (sensor_file.h).
#pragma once

#include "tools/sensor_file/sensor_file.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vorkast::tools {

// One parse of one file. Each bad line gives one error with its number and the parser goes on,
// so that a file shows all its faults at once.
class SensorFileParser {
public:
    SensorFile Run(std::string_view text);

private:
    // The directives of the second form. A change (@set, @name, @header) belongs to the time of
    // the last @at; the others stand alone.
    struct Directive {
        const char* keyword;
        void (SensorFileParser::*line)(int, std::string_view);
        bool (SensorFileParser::*change)(int, std::string_view, RecordedChange*);
    };
    static const Directive kDirectives[6];

    void Error(int line, std::string text) { file_.errors.push_back({line, std::move(text)}); }
    void Warning(int line, std::string text) { file_.warnings.push_back({line, std::move(text)}); }

    void ParseLine(int line, std::string_view raw);

    // ---- Record lines ----------------------------------------------------------------------

    void ParseRecordLine(int line, std::string_view trimmed);

    // The most records a file may list: what a count can claim, or in the second form every
    // whole record of the section it gives.
    std::size_t MostRecords() const;

    bool ParseName(int line, std::string_view text, SensorDefinition* sensor);

    // `type | value [| busy N]` of a record line or a recorded change.
    bool ParseValueColumns(int line, const std::vector<std::string_view>& columns, SensorDefinition* sensor);

    bool ParseTypeAndValue(int line, std::string_view type_text, std::string_view value, SensorDefinition* sensor);

    // The fourth column of the second form: `busy N`, the busy word as captured.
    bool ParseBusyColumn(int line, std::string_view text, SensorDefinition* sensor);

    // ---- Directives ------------------------------------------------------------------------

    void ParseDirective(int line, std::string_view text);

    // `@table version V count C reserved R section-bytes S`, each part optional, before the
    // first sensor.
    void ParseTable(int line, std::string_view rest);

    // The time of `@at` or `@end`: milliseconds since the recording began, not before the
    // last `@at`. `takes` and `too_early` word the errors.
    bool ParseTime(int line, const char* keyword, std::string_view rest, const char* takes, const char* too_early,
                   unsigned long long* ms);

    void ParseAt(int line, std::string_view rest);

    void ParseEnd(int line, std::string_view rest);

    // Records a change may address: every whole record of the section when its size is given,
    // else the records listed.
    std::size_t ChangeableRecords() const;

    // A record number of a change, 1 to ChangeableRecords().
    bool ParseRecordNumber(int line, std::string_view word, std::size_t* index);

    // `@set NUMBER | type | value [| busy N]`
    bool ParseSet(int line, std::string_view rest, RecordedChange* change);

    // `@name NUMBER "quoted name"`
    bool ParseNameChange(int line, std::string_view rest, RecordedChange* change);

    // `@header version V count C [reserved R]`
    bool ParseHeaderChange(int line, std::string_view rest, RecordedChange* change);

    SensorFile file_;
    std::map<std::wstring, int> names_;
    bool content_seen_ = false;  // a line other than blank or comment
    bool table_seen_ = false;
    bool recording_ = false;     // after the first @at
    bool ended_ = false;         // after @end
    unsigned long long at_ms_ = 0;
};

}  // namespace vorkast::tools
