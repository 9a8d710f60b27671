// Reads the published sensor table, one complete open/map/read/unmap/close per call.
#pragma once

#include "variant/scoped_variant.h"

#include <chrono>
#include <cstdint>

namespace vorkast {

// Messages delivered in place of a value, as text variants.
inline constexpr char kNotRunningMessage[] = "Vorkast is not running or unsupported version";
inline constexpr char kCannotReadMessage[] = "Can not read shared data";
inline constexpr char kWrongVersionMessage[] = "Invalid Vorkast version detected";
inline constexpr char kInvalidNumberMessage[] = "Invalid sensor number";
inline constexpr char kUnsupportedTypeMessage[] = "Unsupported sensor value type";

// How long a read waits for a record whose busy word stays set before it gives up with
// "Can not read shared data" (a writer that died mid-update must not freeze the host).
inline constexpr std::chrono::milliseconds kBusyWaitBound{1000};

// The current value of sensor `number` (1-based; only 1 to 127 can be read), or a text variant
// carrying one of the messages above. Failed variant operations raise _com_error; the table is
// released before anything leaves the call.
scoped_variant ReadSensorValue(std::uint16_t number);

// The 1-based number of the first record whose name equals `query` exactly (names compared as
// bytes of the same value as their code units, at most 255 of them), or 0: no match, no table,
// no view, another version. Raises nothing.
std::uint16_t FindSensorByName(const char* query) noexcept;

}  // namespace vorkast
