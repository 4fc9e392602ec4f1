#include "Fuzz.h"
#include "core/Hex.h"
#include "core/Sodium.h"

#include <sodium.h>

namespace quelmar::fuzz {

const Key& key() {
    static const Key pair = [] {
        requireSodium();
        Key k;
        std::array<std::uint8_t, 32> seed{};
        seed.fill(0x5A);
        crypto_sign_seed_keypair(k.publicKey.data(), k.secretKey.data(), seed.data());
        return k;
    }();
    return pair;
}

std::string Key::publicKeyHex() const {
    return toHex(publicKey);
}

Bytes Key::sign(ByteView message) const {
    Bytes signature(crypto_sign_BYTES);
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey.data());
    return signature;
}

} // namespace quelmar::fuzz
