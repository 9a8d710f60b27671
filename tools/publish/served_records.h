// How vorkast-publish writes a file's record into the table: its name with every code unit,
// and its busy word as captured.
#pragma once

#include "sensors/table_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorkast::tools {

// A name of 322 units fills the field with no terminator, as it was captured.
void WriteName(SensorTableWriter& writer, std::size_t index, const std::wstring& name);

// After a value was written under the busy protocol (which leaves the word 0): the busy word
// as captured. A record captured busy (1) stays busy only with `keep_busy`, since a busy word
// that never clears makes every read of it give up; true when such a word was served idle.
bool WriteBusyWord(SensorTableWriter& writer, std::size_t index, std::int32_t busy, bool keep_busy);

}  // namespace vorkast::tools
