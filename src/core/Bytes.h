#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quelmar {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Little-endian fields, lowest byte first: the board's reports, IAP packets and ZIP records. The caller has
// checked that the field lies inside the bytes.
constexpr std::uint16_t littleEndian16(ByteView bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

constexpr std::uint32_t littleEndian32(ByteView bytes, std::size_t at) {
    return static_cast<std::uint32_t>(littleEndian16(bytes, at)) |
           static_cast<std::uint32_t>(littleEndian16(bytes, at + 2)) << 16;
}

// Writes the low count bytes of value at `at`, lowest first.
constexpr void putLittleEndian(std::span<std::uint8_t> bytes, std::size_t at, std::size_t count, std::uint64_t value) {
    for (std::size_t i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(i < 8 ? value >> (8 * i) : 0);
    }
}

// Exactly count bytes of value, lowest first; bytes from index 4 on are zero.
inline Bytes littleEndian(std::uint32_t value, std::size_t count) {
    Bytes out(count, 0);
    putLittleEndian(out, 0, count < 4 ? count : 4, value);
    return out;
}

} // namespace quelmar
