#pragma once

#include <cstdint>

// The bits of Snapshot::status, by what they mean.
namespace quelmar::StatusBit {

inline constexpr std::int64_t mains = 1 << 0;
inline constexpr std::int64_t charging = 1 << 1;
inline constexpr std::int64_t discharging = 1 << 2;
inline constexpr std::int64_t full = 1 << 3;
inline constexpr std::int64_t replaceBattery = 1 << 4;
inline constexpr std::int64_t batteryLow = 1 << 5;
inline constexpr std::int64_t batteryPresent = 1 << 6;
inline constexpr std::int64_t overload = 1 << 7;
inline constexpr std::int64_t shutdownImminent = 1 << 8;

} // namespace quelmar::StatusBit
