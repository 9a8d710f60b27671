#include "tools/sensor_file/writer.h"

#include "tools/sensor_file/quoted_name.h"
#include "tools/sensor_file/sensor_file.h"
#include "tools/sensor_file/value_text.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace vorkast::tools {
namespace {

std::string LocalTimeText() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// "type | value" and, for a word other than 0, "| busy N".
std::string ValueColumns(const RecordSnapshot& r) {
    std::string columns = ExactValueColumns(r.value);
    if (r.busy != 0) { columns += " | busy " + std::to_string(r.busy); }
    return columns;
}

std::string Hex16(std::uint16_t word) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(word));
    return text;
}

}  // namespace

bool RecordSnapshot::same_value(const RecordSnapshot& other) const {
    return busy == other.busy && std::memcmp(value.bytes, other.value.bytes, sizeof value.bytes) == 0;
}

bool RecordSnapshot::is_zero() const { return name.empty() && same_value(RecordSnapshot{}); }

std::string CaptureText(const TableSnapshot& table) {
    std::size_t listed = table.records.size();
    while (listed > 0 && table.records[listed - 1].is_zero()) { --listed; }
    std::string text = "# VorkastSensors as vorkast-dump captured it on " + LocalTimeText() + " (local time).\n" +
                       "# Serve it again exactly with: vorkast-publish THIS-FILE (see docs/tools.md)\n" +
                       kFormat2Line + "\n@table ";
    if (table.has_header) {
        text += "version " + std::to_string(table.version) + " count " + std::to_string(table.count) + " reserved " +
                Hex16(table.reserved) + " ";
    }
    text += "section-bytes " + std::to_string(table.readable) + "\n";
    for (std::size_t i = 0; i < listed; ++i) {
        text += QuoteName(table.records[i].name) + " | " + ValueColumns(table.records[i]) + "\n";
    }
    return text;
}

std::string ChangeLines(const TableSnapshot& before, const TableSnapshot& now) {
    std::string lines;
    if (now.has_header &&
        (now.version != before.version || now.count != before.count || now.reserved != before.reserved)) {
        lines += "@header version " + std::to_string(now.version) + " count " + std::to_string(now.count) +
                 " reserved " + Hex16(now.reserved) + "\n";
    }
    for (std::size_t i = 0; i < now.records.size() && i < before.records.size(); ++i) {
        const RecordSnapshot& a = before.records[i];
        const RecordSnapshot& b = now.records[i];
        if (a.name != b.name) { lines += "@name " + std::to_string(i + 1) + " " + QuoteName(b.name) + "\n"; }
        if (!a.same_value(b)) { lines += "@set " + std::to_string(i + 1) + " | " + ValueColumns(b) + "\n"; }
    }
    return lines;
}

std::string AtLine(unsigned long long ms) { return "@at " + std::to_string(ms) + "\n"; }
std::string EndLine(unsigned long long ms) { return "@end " + std::to_string(ms) + "\n"; }

}  // namespace vorkast::tools
