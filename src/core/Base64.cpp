#include "core/Base64.h"

#include "core/Sodium.h"

#include <array>

#include <sodium.h>

namespace quelmar {

namespace {

constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> decodingTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(invalid);
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i;
    }
    return table;
}

constexpr auto table = decodingTable();

std::uint8_t value(char c) {
    return table[static_cast<unsigned char>(c)];
}

} // namespace

// Table-driven rather than libsodium's sodium_base642bin: that one is built for secrets (constant
// time) and decodes a feed-sized envelope several times slower. The rules are libsodium's strict ones:
// whole quartets, padding only at the end, and unused bits zero.
std::optional<Bytes> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    Bytes out(text.size() / 4 * 3 - padding);
    const std::size_t fullQuartets = (text.size() - (padding ? 4 : 0)) / 4;
    std::size_t o = 0;
    for (std::size_t q = 0; q < fullQuartets; ++q) {
        const char* in = text.data() + 4 * q;
        const auto a = value(in[0]), b = value(in[1]), c = value(in[2]), d = value(in[3]);
        if (((a | b | c | d) & 0xC0) != 0) { // an invalid character has these bits set
            return std::nullopt;
        }
        const std::uint32_t bits = static_cast<std::uint32_t>(a) << 18 | static_cast<std::uint32_t>(b) << 12 |
                                   static_cast<std::uint32_t>(c) << 6 | d;
        out[o++] = static_cast<std::uint8_t>(bits >> 16);
        out[o++] = static_cast<std::uint8_t>(bits >> 8);
        out[o++] = static_cast<std::uint8_t>(bits);
    }
    if (padding) {
        const char* in = text.data() + text.size() - 4;
        const auto a = value(in[0]), b = value(in[1]);
        if (a == invalid || b == invalid) {
            return std::nullopt;
        }
        if (padding == 2) {
            if ((b & 0x0F) != 0) {
                return std::nullopt;
            }
            out[o++] = static_cast<std::uint8_t>(a << 2 | b >> 4);
        } else {
            const auto c = value(in[2]);
            if (c == invalid || (c & 0x03) != 0) {
                return std::nullopt;
            }
            out[o++] = static_cast<std::uint8_t>(a << 2 | b >> 4);
            out[o++] = static_cast<std::uint8_t>((b & 0x0F) << 4 | c >> 2);
        }
    }
    return out;
}

std::optional<Bytes> decodeBase64IgnoringOthers(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (value(c) != invalid || c == '=') {
            kept.push_back(c);
        }
    }
    return decodeBase64(kept);
}

std::string encodeBase64(ByteView bytes) {
    requireSodium();
    std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1); // the terminating NUL
    return out;
}

} // namespace quelmar
