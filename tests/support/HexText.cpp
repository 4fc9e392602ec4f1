#include "HexText.h"

#include <algorithm>
#include <cstdio>

namespace quelmar::test {

std::string hexRecord(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const auto byte : bytes) {
        sum += byte;
    }
    bytes.push_back(static_cast<std::uint8_t>(0x100 - sum % 0x100));
    std::string line = ":";
    for (const auto byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    return line;
}

std::string intelHex(std::uint32_t address, const std::vector<std::uint8_t>& data, std::size_t perLine) {
    std::string text;
    std::int64_t upper = -1;
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(i);
        if (static_cast<std::int64_t>(at >> 16) != upper) {
            upper = at >> 16;
            text +=
                hexRecord(0x04, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) + "\n";
        }
        // Never across the top of a 64 KiB segment.
        const std::size_t room = 0x10000 - (at & 0xFFFF);
        const std::size_t count = std::min({perLine, data.size() - i, room});
        text += hexRecord(0x00, static_cast<std::uint16_t>(at & 0xFFFF),
                          std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(i),
                                                    data.begin() + static_cast<std::ptrdiff_t>(i + count))) +
                "\n";
        i += count;
    }
    return text + hexRecord(0x01, 0, {}) + "\n";
}

std::vector<std::uint8_t> patternBytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> out(count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

} // namespace quelmar::test
