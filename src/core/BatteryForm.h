#pragma once

#include "core/BatteryConfig.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The battery parameter form's texts as a person types them, turned into the configuration they describe.
namespace quelmar::BatteryForm {

inline constexpr std::string_view invalidInput = "请输入有效的电池容量和内阻";

// An optional "+" or "-" and one or more ASCII digits, nothing else; none outside the signed 64-bit range.
std::optional<std::int64_t> parseInteger(std::string_view text);

// The C locale's text-to-double conversion, whatever the process's locale: none for an empty text, a text
// that starts with white space, or one the conversion does not consume to its end.
std::optional<double> parseDouble(std::string_view text);

// Capacity in mAh and resistance in milliohms as typed. Throws UPSError invalidInput when either does not parse
// or the resistance is not a finite number from 1 to 1000; then the configuration's own range message.
BatteryConfig parse(std::string_view capacity, std::string_view resistance, std::int64_t nominal);

} // namespace quelmar::BatteryForm
