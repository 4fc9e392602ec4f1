#include "core/CRC32.h"

#include <array>

namespace quelmar::CRC32 {

namespace {

constexpr std::uint32_t polynomial = 0xEDB88320u;

// Slicing by eight: tables[0] is the classic byte table; tables[k] gives a byte's contribution when k more
// bytes follow it, so eight bytes fold in with eight independent lookups.
constexpr auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? polynomial : 0u);
        }
        t[0][byte] = crc;
    }
    for (std::size_t k = 1; k < t.size(); ++k) {
        for (std::size_t byte = 0; byte < 256; ++byte) {
            t[k][byte] = (t[k - 1][byte] >> 8) ^ t[0][t[k - 1][byte] & 0xFFu];
        }
    }
    return t;
}();

} // namespace

std::uint32_t compute(ByteView bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    std::size_t at = 0;
    for (; bytes.size() - at >= 8; at += 8) {
        const std::uint32_t low = crc ^ littleEndian32(bytes, at);
        crc = tables[7][low & 0xFFu] ^ tables[6][(low >> 8) & 0xFFu] ^ tables[5][(low >> 16) & 0xFFu] ^
              tables[4][low >> 24] ^ tables[3][bytes[at + 4]] ^ tables[2][bytes[at + 5]] ^ tables[1][bytes[at + 6]] ^
              tables[0][bytes[at + 7]];
    }
    for (; at < bytes.size(); ++at) {
        crc = (crc >> 8) ^ tables[0][(crc ^ bytes[at]) & 0xFFu];
    }
    return crc ^ 0xFFFFFFFFu;
}

} // namespace quelmar::CRC32
