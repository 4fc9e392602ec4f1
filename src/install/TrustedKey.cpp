#include "install/TrustedKey.h"

#include "BuildConfig.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace quelmar {

namespace {

constexpr int digitValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// The configuration checks the key's form; a malformed one gives an all-zero key that verifies nothing.
constexpr std::array<std::uint8_t, 32> decode(std::string_view hex) {
    std::array<std::uint8_t, 32> key{};
    if (hex.size() != 64) {
        return key;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        const int high = digitValue(hex[2 * i]);
        const int low = digitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        key[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return key;
}

constexpr auto key = decode(BuildConfig::publicKey);

} // namespace

ByteView trustedPublicKey() {
    return key;
}

} // namespace quelmar
