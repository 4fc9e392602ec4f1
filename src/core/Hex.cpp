#include "core/Hex.h"

#include <array>

namespace quelmar {

namespace {

// The value of each hexadecimal digit, 0xFF for every other byte.
constexpr std::array<std::uint8_t, 256> digitValues = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = table['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return table;
}();

} // namespace

bool fromHex(std::string_view text, Bytes& out) {
    out.clear();
    if (text.size() % 2 != 0) {
        return false;
    }
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto high = digitValues[static_cast<unsigned char>(text[i])];
        const auto low = digitValues[static_cast<unsigned char>(text[i + 1])];
        if ((high | low) > 0x0F) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

std::optional<Bytes> fromHex(std::string_view text) {
    Bytes out;
    if (!fromHex(text, out)) {
        return std::nullopt;
    }
    return out;
}

std::string toHex(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.resize(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return out;
}

} // namespace quelmar
