#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <optional>

namespace quelmar::test::ReportDescriptors {

// The HID report descriptors a board of this kind has. Every item is 8-bit; each report carries its ID.
// The power-device interface of APP mode: input report 1 and feature reports 2 to 4.
Bytes power(std::optional<std::int64_t> usagePage);
// The vendor interface of APP mode: feature reports 5 to 8.
Bytes vendor(std::optional<std::int64_t> usagePage);
// The bootloader's one vendor interface: 64-byte output and input report 1.
Bytes bootloader(std::optional<std::int64_t> usagePage);

} // namespace quelmar::test::ReportDescriptors
