#include "tools/publish/served_records.h"

namespace vorkast::tools {

void WriteName(SensorTableWriter& writer, std::size_t index, const std::wstring& name) {
    if (name.size() >= kSensorNameUnits) {
        writer.set_name_units(index, name.data(), kSensorNameUnits);
    } else {
        writer.set_name(index, name);
    }
}

bool WriteBusyWord(SensorTableWriter& writer, std::size_t index, std::int32_t busy, bool keep_busy) {
    if (busy == kRecordBusy && !keep_busy) { return true; }
    if (busy != kRecordIdle) { writer.set_busy(index, busy); }
    return false;
}

}  // namespace vorkast::tools
