#include "core/CRC32.h"

namespace quelmar::CRC32 {

std::uint32_t compute(ByteView bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            // All ones when the bit shifted out is 1: the same result as a branch, without mispredictions.
            const std::uint32_t mask = 0u - (crc & 1u);
            crc = (crc >> 1) ^ (0xEDB88320u & mask);
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

} // namespace quelmar::CRC32
