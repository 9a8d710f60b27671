// One host instance's result string. The host holds its address as the instance handle and
// hands it back on every value call; the text returned to the host points into it and stays
// valid until the next value call on that instance or its shutdown.
#pragma once

#include <cstddef>
#include <string>

namespace vorkast {

using InstanceString = std::string;

inline constexpr char kInitialInstanceText[] = "Unknown";
// Characters reserved in every instance: more than the longest fixed message.
inline constexpr std::size_t kReservedInstanceText = 64;

// A new instance holding "Unknown", or null when memory is exhausted.
InstanceString* NewInstance() noexcept;
// Frees an instance; null is accepted and ignored.
void DeleteInstance(InstanceString* instance) noexcept;

}  // namespace vorkast
