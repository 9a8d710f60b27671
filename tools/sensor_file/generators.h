// Generators: a value column that keeps changing instead of a fixed value.
//
//     ramp FROM TO SECONDS   sine MIN MAX SECONDS   random MIN MAX      (number types)
//     random                 toggle SECONDS                             (bool)
//     now                                                               (date)
#pragma once

#include "tools/sensor_file/sensor_file.h"

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace vorkast::tools {

// True when `word` (letter case ignored) starts a generator.
bool IsGeneratorKeyword(std::string_view word);

// Reads the generator `words` (its keyword first) for `sensor`, whose type is set already.
// On failure `why` says what is wrong.
bool ParseGenerator(const std::vector<std::string_view>& words, SensorDefinition* sensor, std::string* why);

// The value of `sensor` `seconds` after publishing began, as stored bytes. Fixed and raw
// sensors give their fixed bytes; integer types are rounded and kept in their type's range;
// generated real numbers are rounded to 3 decimal places.
StoredVariant SensorValueAt(const SensorDefinition& sensor, double seconds, std::mt19937& random);

}  // namespace vorkast::tools
