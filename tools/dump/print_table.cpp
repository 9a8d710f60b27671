// vorkast-dump without options: the live table for a terminal, its header and every record
// (number, name, value type, value as text converted as the plug-in converts it), with notes
// where the table is odd. A value that refers to the writer's memory is never followed.
#include "sensors/stable_copy.h"
#include "tools/common/console.h"
#include "tools/dump/jobs.h"
#include "tools/dump/live_table.h"
#include "tools/sensor_file/value_types.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vorkast::tools {
namespace {

struct Row {
    std::wstring number;
    std::wstring name;
    std::wstring type;
    std::wstring value;
};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void Print(const std::wstring& line) { WriteWide(stdout, line + L"\n"); }

// The name for a terminal: control characters are shown as '?' so that a name cannot disturb
// it.
std::wstring RecordName(const SensorRecord& record, bool* terminated) {
    std::wstring name = StoredName(record);
    *terminated = name.size() < kSensorNameUnits;
    for (wchar_t& c : name) {
        if (c < 0x20 || c == 0x7F) { c = L'?'; }
    }
    return name;
}

std::wstring ValueText(const StoredVariant& stored) {
    const StoredValueKind kind = ClassifyStoredValue(stored);
    if (kind == StoredValueKind::refers_to_memory) {
        return L"(refers to the writer's memory; not read)";
    }
    VARIANT value = LoadStoredVariant(stored);
    VARIANT text;
    ::VariantInit(&text);
    // A DECIMAL that is no number would make the platform's text conversion write past its
    // buffer: refused as the platform refuses it elsewhere.
    const HRESULT hr = kind == StoredValueKind::malformed_decimal
                           ? E_INVALIDARG
                           : ::VariantChangeType(&text, &value, 0, VT_BSTR);
    if (FAILED(hr)) {
        char message[64];
        std::snprintf(message, sizeof message, "(no text form: 0x%08lX)", static_cast<unsigned long>(hr));
        return Widen(message);
    }
    std::wstring result = text.bstrVal != nullptr ? std::wstring(text.bstrVal, ::SysStringLen(text.bstrVal))
                                                  : std::wstring();
    ::VariantClear(&text);
    return result;
}

std::wstring Pad(const std::wstring& text, std::size_t width, bool right = false) {
    if (text.size() >= width) { return text; }
    const std::wstring fill(width - text.size(), L' ');
    return right ? fill + text : text + fill;
}

}  // namespace

int PrintTable() {
    const SensorSection section;
    if (section.state() == SensorSection::State::no_section) {
        std::puts("No sensor table: VorkastSensors does not exist (Vorkast is not running).");
        return 1;
    }
    if (section.state() == SensorSection::State::no_view) {
        std::puts("VorkastSensors exists but cannot be mapped for reading.");
        return 1;
    }
    const std::size_t readable = section.readable_size();
    if (!section.has_header()) {
        std::printf("VorkastSensors: %zu bytes readable, too few for the 8-byte header.\n", readable);
        return 0;
    }
    const std::uint32_t version = section.version();
    const std::uint16_t count = section.count();
    const std::size_t whole = section.whole_records();
    std::printf("VorkastSensors: version %lu, count %u; %zu bytes readable (%zu whole record%s)\n",
                static_cast<unsigned long>(version), static_cast<unsigned>(count), readable, whole,
                whole == 1 ? "" : "s");
    if (version != kSensorTableVersion) {
        std::printf("note: the plug-in reads only version 1: every value read answers \"Invalid Vorkast "
                    "version detected\" and no name is found (its dialog still lists the records)\n");
    }

    std::vector<Row> rows;
    std::vector<std::string> notes;
    std::size_t i = 0;
    for (; i < section.count(); ++i) {  // the count is read again before each record
        const SensorRecord* record = section.record(i);
        if (record == nullptr) {
            notes.push_back("note: count claims " + std::to_string(section.count()) + " records but only " +
                            std::to_string(i) + " lie inside the section; the rest are not shown");
            break;
        }
        Row row;
        row.number = std::to_wstring(i + 1);
        bool terminated = true;
        row.name = RecordName(*record, &terminated);
        if (!terminated) { row.name += L" (no terminator in its field)"; }
        StoredVariant stored;
        const bool copied =
            CopyWholeValue(SharedRecordWords(record), Deadline(kBusyPatience), stored);
        if (!copied) { std::memcpy(&stored, &record->value, sizeof stored); }  // for its type tag only
        row.type = Widen(TypeName(StoredType(stored)));
        row.value = copied ? ValueText(stored) : L"(busy: the writer is changing it)";
        rows.push_back(std::move(row));
    }
    if (count > kRecordsReadByNumber || i > kRecordsReadByNumber) {
        notes.push_back("note: sensors above number " + std::to_string(kRecordsReadByNumber) +
                        " cannot be read by number (\"Invalid sensor number\")");
    }

    std::size_t name_width = 4, type_width = 4, number_width = 3;
    for (const Row& r : rows) {
        name_width = std::max(name_width, std::min<std::size_t>(r.name.size(), 40));
        type_width = std::max(type_width, r.type.size());
        number_width = std::max(number_width, r.number.size());
    }
    if (rows.empty()) {
        std::puts("(no records)");
    } else {
        Print(Pad(L"#", number_width, true) + L"  " + Pad(L"Name", name_width) + L"  " +
              Pad(L"Type", type_width) + L"  Value");
        for (const Row& r : rows) {
            Print(Pad(r.number, number_width, true) + L"  " + Pad(r.name, name_width) + L"  " +
                  Pad(r.type, type_width) + L"  " + r.value);
        }
    }
    for (const std::string& note : notes) { std::puts(note.c_str()); }
    return 0;
}

}  // namespace vorkast::tools
