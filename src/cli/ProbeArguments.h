#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelmar::Modes {

// The probe's sample count after "--samples": an optional sign and decimal digits, 1 to 3600; 1 without the option.
// Anything else is absent.
std::optional<std::int64_t> probeSampleCount(const std::vector<std::string>& arguments);

} // namespace quelmar::Modes
