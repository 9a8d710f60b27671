// The live table as vorkast-dump reads it: through SensorSection, each name and value copied
// out of the view before it is looked at, values copied whole under the busy protocol, never
// a pointer followed.
#pragma once

#include "sensors/section.h"
#include "tools/sensor_file/writer.h"

#include <chrono>
#include <string>

namespace vorkast::tools {

// How long the dump waits for a record that the writer is changing.
inline constexpr std::chrono::milliseconds kBusyPatience{200};

// The name as stored, copied out of the view once: up to its terminator, all 322 units of the
// field when it has none.
std::wstring StoredName(const SensorRecord& record);

// The table now: every whole record in the view. With `per_record` each busy record is waited
// for up to the patience; without, the patience bounds the waits of the whole snapshot (a
// recording's samples stay on time). A record still busy then is taken as it lies, with its
// busy word.
TableSnapshot ReadSnapshot(const SensorSection& section, bool per_record);

// Whether the open `section` can be captured; prints why not (no table, no view, a section
// larger than vorkast-publish serves) and gives false.
bool CanCapture(const SensorSection& section);

}  // namespace vorkast::tools
