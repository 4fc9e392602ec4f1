#pragma once

#include "core/Bytes.h"

#include <cstdint>

namespace quelmar::CRC32 {

// The CRC-32 of IEEE 802.3 (reflected, polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF);
// "123456789" gives 0xCBF43926, no bytes give 0.
std::uint32_t compute(ByteView bytes);

} // namespace quelmar::CRC32
