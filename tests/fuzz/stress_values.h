// The values that the racing writer (stress_writer.exe) stores, and how a reader recognises one.
//
// Write number w (1, 2, 3, ...) goes to record w % kStressRecords with the type
// kStressTypes[(w / kStressRecords) % 4], so that every record keeps changing its type too. All
// eight data bytes derive from w, in two halves of which each alone does not determine the
// other: a copy that mixes the bytes (or the type tag) of two writes is no value that the
// writer ever stored, and its text decodes to no write number, or to one whose own text differs.
#pragma once

#include "sensors/table_layout.h"

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <cstring>

namespace vorkast::test::stress {

inline constexpr std::size_t kStressRecords = 32;
inline constexpr VARTYPE kStressTypes[] = {VT_I8, VT_R8, VT_CY, VT_DATE};

// 32 bits that follow from the write number and do not reveal it.
inline std::uint32_t CheckWord(std::uint32_t w) {
    std::uint32_t x = w * 2654435761u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    return x ^ (x >> 12) ^ 0x5BD1E995u;
}

inline VARTYPE StressType(std::uint32_t w) { return kStressTypes[(w / kStressRecords) % 4]; }

// Day 0 of the dates written: 1 January 2000.
inline constexpr double kStressEpoch = 36526.0;

// The stored bytes of write number w (1 to 2^31 - 1).
inline StoredVariant StressValue(std::uint32_t w) {
    StoredVariant v{};
    const VARTYPE type = StressType(w);
    std::memcpy(v.bytes, &type, sizeof type);
    // Whole numbers of type I8 and CY: write number in the high half, check word in the low.
    const std::int64_t whole = static_cast<std::int64_t>((static_cast<std::uint64_t>(w) << 32) | CheckWord(w));
    switch (type) {
        case VT_I8:
        case VT_CY: std::memcpy(v.bytes + 8, &whole, sizeof whole); break;
        case VT_R8: {
            // A whole number below 10^15, which the platform's text shows exactly.
            const double r8 = static_cast<double>(static_cast<std::uint64_t>(w) * 100000u + CheckWord(w) % 100000u);
            std::memcpy(v.bytes + 8, &r8, sizeof r8);
            break;
        }
        default: {
            // A moment to the second: the platform's text of a date shows seconds.
            const double seconds = static_cast<double>(static_cast<std::uint64_t>(w) * 100u + CheckWord(w) % 100u);
            const double date = kStressEpoch + seconds / 86400.0;
            std::memcpy(v.bytes + 8, &date, sizeof date);
            break;
        }
    }
    return v;
}

}  // namespace vorkast::test::stress
