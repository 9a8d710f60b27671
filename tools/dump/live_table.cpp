#include "tools/dump/live_table.h"

#include "sensors/stable_copy.h"
#include "tools/sensor_file/sensor_file.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace vorkast::tools {
namespace {

// A value is copied whole under the busy protocol; a record that stays busy until `deadline`
// is taken as it lies, with its busy word. After a whole copy a busy word of 1 is the writer's
// next change beginning, not a record left busy: it is taken as 0.
RecordSnapshot ReadRecord(const SensorRecord* record, const Deadline& deadline) {
    RecordSnapshot snapshot;
    snapshot.name = StoredName(*record);
    const bool copied = CopyWholeValue(SharedRecordWords(record), deadline, snapshot.value);
    if (!copied) { snapshot.value = LoadValueWords(SharedRecordWords(record)); }
    const std::int32_t busy = LoadBusyWord(record);
    snapshot.busy = copied && busy == kRecordBusy ? kRecordIdle : busy;
    return snapshot;
}

}  // namespace

std::wstring StoredName(const SensorRecord& record) {
    WCHAR units[kSensorNameUnits];
    std::memcpy(units, record.name, sizeof units);
    std::size_t length = 0;
    while (length < kSensorNameUnits && units[length] != 0) { ++length; }
    return std::wstring(units, units + length);
}

TableSnapshot ReadSnapshot(const SensorSection& section, bool per_record) {
    TableSnapshot t;
    t.readable = section.readable_size();
    t.has_header = section.has_header();
    if (t.has_header) {
        t.version = section.version();
        t.count = section.count();
        std::memcpy(&t.reserved, section.base() + offsetof(SensorTableHeader, reserved), sizeof t.reserved);
    }
    const std::size_t records = section.whole_records();
    t.records.reserve(records);
    const Deadline sample(kBusyPatience);
    for (std::size_t i = 0; i < records; ++i) {
        t.records.push_back(ReadRecord(section.record(i), per_record ? Deadline(kBusyPatience) : sample));
    }
    return t;
}

bool CanCapture(const SensorSection& section) {
    switch (section.state()) {
        case SensorSection::State::no_section:
            std::fputs("vorkast-dump: no sensor table: VorkastSensors does not exist (Vorkast is not running)\n", stderr);
            return false;
        case SensorSection::State::no_view:
            std::fputs("vorkast-dump: VorkastSensors exists but cannot be mapped for reading\n", stderr);
            return false;
        case SensorSection::State::open: break;
    }
    if (section.readable_size() > kMaxSectionBytes) {
        std::fprintf(stderr,
                     "vorkast-dump: VorkastSensors is %zu bytes; vorkast-publish serves sections of at most %llu "
                     "bytes (512 MiB), so a capture could not be served again: nothing written\n",
                     section.readable_size(), kMaxSectionBytes);
        return false;
    }
    return true;
}

}  // namespace vorkast::tools
