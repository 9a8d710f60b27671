// The fixed texts the plug-in answers with, spelled out here (not taken from the product) so
// that the tests check the exact words the host receives.
#pragma once

namespace vorkast::test {

inline constexpr char kNotRunning[] = "Vorkast is not running or unsupported version";
inline constexpr char kCannotRead[] = "Can not read shared data";
inline constexpr char kWrongVersion[] = "Invalid Vorkast version detected";
inline constexpr char kInvalidNumber[] = "Invalid sensor number";
inline constexpr char kUnsupported[] = "Unsupported sensor value type";
inline constexpr char kByNumberFailure[] = "An unexpected error has happened";
inline constexpr char kByNameFailure[] = "An unexpected error was returned";

}  // namespace vorkast::test
