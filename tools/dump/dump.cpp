// vorkast-dump: prints the live "VorkastSensors" table for a terminal: its header and every
// record (number, name, value type, value as text). It reads through SensorSection, copies
// each name and value out of the view before looking at them, stays inside the view and inside
// each name's field, and never follows a variant that refers to the writer's memory.
//
// --capture writes the table as a sensor file that vorkast-publish serves again exactly as a
// reader sees it; --record adds the changes over time.
#include "sensors/section.h"
#include "sensors/stable_copy.h"
#include "tools/common/console.h"
#include "tools/common/variant_types.h"
#include "tools/common/quoted_name.h"
#include "tools/publish/sensor_file.h"

#include <oleauto.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <stdexcept>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: vorkast-dump\n"
    "       vorkast-dump --capture FILE\n"
    "       vorkast-dump --record FILE [--interval MS] [--duration MS] [--ignore-stdin]\n"
    "  Prints the live sensor table \"VorkastSensors\": its header and every record\n"
    "  (number, name, value type, value as text).\n"
    "  --capture writes the table to FILE exactly, for vorkast-publish to serve again.\n"
    "  --record does the same and then samples the table every MS milliseconds (default\n"
    "  500, 10 to 3600000) and adds every change with its time, until Ctrl+C, the end of\n"
    "  standard input (unless --ignore-stdin), --duration MS, or the table's withdrawal.\n"
    "  Exit status 0 when a table was shown or written, 1 when there is none or it cannot\n"
    "  be read or FILE cannot be written, 2 for wrong arguments.\n";

struct Row {
    std::wstring number;
    std::wstring name;
    std::wstring type;
    std::wstring value;
};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void Print(const std::wstring& line) { vorkast::tools::WriteWide(stdout, line + L"\n"); }

// The name as stored, copied out of the view once: up to its terminator, all 322 units of the
// field when it has none.
std::wstring StoredName(const vorkast::SensorRecord& record) {
    WCHAR units[vorkast::kSensorNameUnits];
    std::memcpy(units, record.name, sizeof units);
    std::size_t length = 0;
    while (length < vorkast::kSensorNameUnits && units[length] != 0) { ++length; }
    return std::wstring(units, units + length);
}

// The name for a terminal: control characters are shown as '?' so that a name cannot disturb
// it.
std::wstring RecordName(const vorkast::SensorRecord& record, bool* terminated) {
    std::wstring name = StoredName(record);
    *terminated = name.size() < vorkast::kSensorNameUnits;
    for (wchar_t& c : name) {
        if (c < 0x20 || c == 0x7F) { c = L'?'; }
    }
    return name;
}

// How long the dump waits for a record that the writer is changing.
constexpr std::chrono::milliseconds kBusyPatience{200};

std::wstring ValueText(const vorkast::StoredVariant& stored) {
    const vorkast::StoredValueKind kind = vorkast::ClassifyStoredValue(stored);
    if (kind == vorkast::StoredValueKind::refers_to_memory) {
        return L"(refers to the writer's memory; not read)";
    }
    VARIANT value = vorkast::LoadStoredVariant(stored);
    VARIANT text;
    ::VariantInit(&text);
    // A DECIMAL that is no number would make the platform's text conversion write past its
    // buffer: refused as the platform refuses it elsewhere.
    const HRESULT hr = kind == vorkast::StoredValueKind::malformed_decimal
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

int Dump() {
    const vorkast::SensorSection section;
    if (section.state() == vorkast::SensorSection::State::no_section) {
        std::puts("No sensor table: VorkastSensors does not exist (Vorkast is not running).");
        return 1;
    }
    if (section.state() == vorkast::SensorSection::State::no_view) {
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
    if (version != vorkast::kSensorTableVersion) {
        std::printf("note: the plug-in reads only version 1: every value read answers \"Invalid Vorkast "
                    "version detected\" and no name is found (its dialog still lists the records)\n");
    }

    std::vector<Row> rows;
    std::vector<std::string> notes;
    std::size_t i = 0;
    for (; i < section.count(); ++i) {  // the count is read again before each record
        const vorkast::SensorRecord* record = section.record(i);
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
        vorkast::StoredVariant stored;
        const bool copied =
            vorkast::CopyWholeValue(vorkast::SharedRecordWords(record), vorkast::Deadline(kBusyPatience), stored);
        if (!copied) { std::memcpy(&stored, &record->value, sizeof stored); }  // for its type tag only
        row.type = Widen(vorkast::tools::TypeName(vorkast::StoredType(stored)));
        row.value = copied ? ValueText(stored) : L"(busy: the writer is changing it)";
        rows.push_back(std::move(row));
    }
    if (count > 127 || i > 127) {
        notes.push_back("note: sensors above number 127 cannot be read by number (\"Invalid sensor number\")");
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

// ---- Capture and recording ---------------------------------------------------------------------

// A record as a reader sees it: the name up to its terminator (all 322 units without one), the
// busy word and the 16 value bytes.
struct RecordState {
    std::wstring name;
    std::int32_t busy = 0;
    vorkast::StoredVariant value{};

    bool operator==(const RecordState& o) const {
        return name == o.name && busy == o.busy && std::memcmp(value.bytes, o.value.bytes, sizeof value.bytes) == 0;
    }
    bool operator!=(const RecordState& o) const { return !(*this == o); }
    bool is_zero() const {
        static const vorkast::StoredVariant kZero{};
        return name.empty() && busy == 0 && std::memcmp(value.bytes, kZero.bytes, sizeof value.bytes) == 0;
    }
};

struct TableState {
    std::size_t readable = 0;
    bool has_header = false;
    std::uint32_t version = 0;
    std::uint16_t count = 0;
    std::uint16_t reserved = 0;
    std::vector<RecordState> records;  // every whole record in the view (at most 65535)
};

// Reads one record. A value is copied whole under the busy protocol; a record that stays busy
// until `deadline` is taken as it lies, with its busy word. After a whole copy a busy word of 1
// is the writer's next change beginning, not a record left busy: it is taken as 0.
RecordState ReadRecord(const vorkast::SensorRecord* record, const vorkast::Deadline& deadline) {
    RecordState state;
    state.name = StoredName(*record);
    const bool copied = vorkast::CopyWholeValue(vorkast::SharedRecordWords(record), deadline, state.value);
    if (!copied) { state.value = vorkast::LoadValueWords(vorkast::SharedRecordWords(record)); }
    const std::int32_t busy = vorkast::LoadBusyWord(record);
    state.busy = copied && busy == vorkast::kRecordBusy ? vorkast::kRecordIdle : busy;
    return state;
}

// The table now. With `per_record` each busy record is waited for up to the patience; without,
// the patience bounds the waits of the whole sample (a recording's samples stay on time).
TableState ReadTable(const vorkast::SensorSection& section, bool per_record) {
    TableState t;
    t.readable = section.readable_size();
    t.has_header = section.has_header();
    if (t.has_header) {
        t.version = section.version();
        t.count = section.count();
        std::memcpy(&t.reserved, section.base() + offsetof(vorkast::SensorTableHeader, reserved), sizeof t.reserved);
    }
    const std::size_t records = std::min<std::size_t>(section.whole_records(), 65535);
    t.records.reserve(records);
    const vorkast::Deadline sample(kBusyPatience);
    for (std::size_t i = 0; i < records; ++i) {
        t.records.push_back(
            ReadRecord(section.record(i), per_record ? vorkast::Deadline(kBusyPatience) : sample));
    }
    return t;
}

std::string RecordColumns(const RecordState& r) {
    std::string line = vorkast::tools::ExactValueColumns(r.value);
    if (r.busy != 0) { line += " | busy " + std::to_string(r.busy); }
    return line;
}

std::string LocalTimeText() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// The table as a sensor file of the second form. Trailing records that are all zero (no name,
// not busy, every value byte 0) are left out: a new section holds them anyway.
std::string CaptureText(const TableState& t) {
    std::size_t listed = t.records.size();
    while (listed > 0 && t.records[listed - 1].is_zero()) { --listed; }
    std::string text = "# VorkastSensors as vorkast-dump captured it on " + LocalTimeText() + " (local time).\n" +
                       "# Serve it again exactly with: vorkast-publish THIS-FILE (see docs/tools.md)\n" +
                       vorkast::tools::kFormat2Line + "\n";
    char table[160];
    if (t.has_header) {
        std::snprintf(table, sizeof table, "@table version %lu count %u reserved 0x%04X section-bytes %zu\n",
                      static_cast<unsigned long>(t.version), static_cast<unsigned>(t.count),
                      static_cast<unsigned>(t.reserved), t.readable);
    } else {
        std::snprintf(table, sizeof table, "@table section-bytes %zu\n", t.readable);
    }
    text += table;
    for (std::size_t i = 0; i < listed; ++i) {
        text += vorkast::tools::QuoteName(t.records[i].name) + " | " + RecordColumns(t.records[i]) + "\n";
    }
    return text;
}

// The lines of every difference between two states of the same table.
std::string ChangeLines(const TableState& before, const TableState& now) {
    std::string lines;
    if (now.has_header && (now.version != before.version || now.count != before.count)) {
        lines += "@header version " + std::to_string(now.version) + " count " + std::to_string(now.count) + "\n";
    }
    for (std::size_t i = 0; i < now.records.size() && i < before.records.size(); ++i) {
        const RecordState& a = before.records[i];
        const RecordState& b = now.records[i];
        if (a.name != b.name) { lines += "@name " + std::to_string(i + 1) + " " + vorkast::tools::QuoteName(b.name) + "\n"; }
        if (a.busy != b.busy || std::memcmp(a.value.bytes, b.value.bytes, sizeof a.value.bytes) != 0) {
            lines += "@set " + std::to_string(i + 1) + " | " + RecordColumns(b) + "\n";
        }
    }
    return lines;
}

class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) { throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno)); }
    }
    ~OutputFile() {
        if (file_ != nullptr) { std::fclose(file_); }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
            throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
        }
    }
    void Close() {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) { throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno)); }
    }

private:
    std::string path_;
    std::FILE* file_;
};

struct CaptureOptions {
    std::string file;
    bool record = false;
    unsigned long long interval_ms = 500;
    unsigned long long duration_ms = 0;  // 0: until stopped
    bool ignore_stdin = false;
};

// Opens the table for a capture; prints why not and gives false when there is none.
bool OpenForCapture(const vorkast::SensorSection& section) {
    if (section.state() == vorkast::SensorSection::State::no_section) {
        std::fputs("vorkast-dump: no sensor table: VorkastSensors does not exist (Vorkast is not running)\n", stderr);
        return false;
    }
    if (section.state() == vorkast::SensorSection::State::no_view) {
        std::fputs("vorkast-dump: VorkastSensors exists but cannot be mapped for reading\n", stderr);
        return false;
    }
    return true;
}

int Capture(const CaptureOptions& o) {
    TableState last;
    {
        const vorkast::SensorSection section;
        if (!OpenForCapture(section)) { return 1; }
        last = ReadTable(section, true);
    }
    OutputFile out(o.file);
    out.Write(CaptureText(last));
    if (!o.record) {
        out.Close();
        std::printf("vorkast-dump: captured VorkastSensors (version %lu, count %u, %zu bytes readable, %zu whole "
                    "records) into %s\n",
                    static_cast<unsigned long>(last.version), static_cast<unsigned>(last.count), last.readable,
                    last.records.size(), o.file.c_str());
        return 0;
    }

    vorkast::tools::StopSignal stop;
    if (!o.ignore_stdin) { vorkast::tools::StopAtEndOfInput(&stop); }
    std::printf("vorkast-dump: recording VorkastSensors into %s every %llu ms; stop with Ctrl+C%s\n", o.file.c_str(),
                o.interval_ms,
                o.ignore_stdin || !vorkast::tools::HasStandardInput() ? "" : " or by ending standard input");
    std::fflush(stdout);
    const ULONGLONG start = ::GetTickCount64();
    ULONGLONG next = start + o.interval_ms;
    ULONGLONG end = start;
    std::size_t samples = 0, changes = 0;
    const char* why = nullptr;
    for (;;) {
        ULONGLONG now = ::GetTickCount64();
        ULONGLONG wake = next;
        if (o.duration_ms != 0) { wake = std::min<ULONGLONG>(wake, start + o.duration_ms); }
        if (::WaitForSingleObject(stop.event(), wake > now ? static_cast<DWORD>(wake - now) : 0) == WAIT_OBJECT_0) {
            why = stop.reason();
            end = ::GetTickCount64();
            break;
        }
        now = ::GetTickCount64();
        if (o.duration_ms != 0 && now >= start + o.duration_ms) {
            why = "--duration";
            end = start + o.duration_ms;
            break;
        }
        if (now < next) { continue; }
        next += o.interval_ms * ((now - next) / o.interval_ms + 1);
        // Opened anew for every sample, as the plug-in does: a table that goes away is seen.
        const vorkast::SensorSection section;
        if (!section.is_open()) {
            why = "the table was withdrawn";
            end = now;
            break;
        }
        if (section.readable_size() != last.readable) {
            why = "the table was replaced by one of another size";
            end = now;
            break;
        }
        TableState state = ReadTable(section, false);
        const std::string lines = ChangeLines(last, state);
        ++samples;
        if (!lines.empty()) {
            out.Write("@at " + std::to_string(now - start) + "\n" + lines);
            changes += static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
            last = std::move(state);
        }
    }
    out.Write("@end " + std::to_string(end - start) + "\n");
    out.Close();
    std::printf("vorkast-dump: recording stopped (%s): %zu change%s in %zu samples over %llu ms, in %s\n", why,
                changes, changes == 1 ? "" : "s", samples, static_cast<unsigned long long>(end - start),
                o.file.c_str());
    return 0;
}

[[noreturn]] void UsageFailure(const std::string& what) {
    std::fprintf(stderr, "vorkast-dump: %s\n", what.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

CaptureOptions ParseCaptureArguments(int argc, char** argv) {
    CaptureOptions o;
    bool interval_given = false, duration_given = false, ignore_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) { UsageFailure(a + " needs a value"); }
            return argv[++i];
        };
        auto number = [&](unsigned long long min, unsigned long long max) {
            const std::string text = value();
            unsigned long long v = 0;
            if (!vorkast::tools::ParseUnsigned(text.c_str(), max, &v) || v < min) {
                UsageFailure(a + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                             ", not '" + text + "'");
            }
            return v;
        };
        if (a == "--capture" || a == "--record") {
            if (!o.file.empty()) { UsageFailure("give one of --capture and --record, once"); }
            o.record = a == "--record";
            o.file = value();
            if (o.file.empty()) { UsageFailure(a + " needs a file name"); }
        } else if (a == "--interval") {
            o.interval_ms = number(10, 3600000);
            interval_given = true;
        } else if (a == "--duration") {
            o.duration_ms = number(1, 366ull * 24 * 3600 * 1000);
            duration_given = true;
        } else if (a == "--ignore-stdin") {
            o.ignore_stdin = true;
            ignore_given = true;
        } else {
            UsageFailure("unexpected argument '" + a + "'");
        }
    }
    if (!o.record && (interval_given || duration_given || ignore_given)) {
        UsageFailure("--interval, --duration and --ignore-stdin belong to --record");
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "/?") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        const int status = argc == 1 ? Dump() : Capture(ParseCaptureArguments(argc, argv));
        std::fflush(stdout);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorkast-dump: %s\n", e.what());
        return 1;
    }
}
