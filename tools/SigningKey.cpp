#include "tools/SigningKey.h"

#include "core/Hex.h"
#include "core/Sodium.h"
#include "system/Files.h"

#include <stdexcept>
#include <string>

#include <sodium.h>

namespace quelmar::publish {

SigningKey::SigningKey() {
    requireSodium();
}

SigningKey::SigningKey(SigningKey&& other) noexcept
    : seed_(other.seed_)
    , publicKey_(other.publicKey_)
    , secretKey_(other.secretKey_) {
    sodium_memzero(other.seed_.data(), other.seed_.size());
    sodium_memzero(other.secretKey_.data(), other.secretKey_.size());
}

SigningKey::~SigningKey() {
    sodium_memzero(seed_.data(), seed_.size());
    sodium_memzero(secretKey_.data(), secretKey_.size());
}

SigningKey SigningKey::generate() {
    SigningKey key;
    randombytes_buf(key.seed_.data(), key.seed_.size());
    crypto_sign_seed_keypair(key.publicKey_.data(), key.secretKey_.data(), key.seed_.data());
    return key;
}

SigningKey SigningKey::fromSeed(ByteView seed) {
    if (seed.size() != crypto_sign_SEEDBYTES) {
        throw std::invalid_argument("an Ed25519 seed has 32 bytes");
    }
    SigningKey key;
    std::copy(seed.begin(), seed.end(), key.seed_.begin());
    crypto_sign_seed_keypair(key.publicKey_.data(), key.secretKey_.data(), key.seed_.data());
    return key;
}

SigningKey SigningKey::read(const std::filesystem::path& keyFile) {
    // A key file holds 64 digits and a line end; anything much larger is no key.
    auto bytes = Files::readUpTo(keyFile, 4096);
    if (!bytes) {
        throw std::runtime_error(keyFile.string() + ": not a private key (64 hexadecimal digits)");
    }
    std::string text(bytes->begin(), bytes->end());
    sodium_memzero(bytes->data(), bytes->size());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    auto seed = fromHex(text);
    if (!seed || seed->size() != crypto_sign_SEEDBYTES) {
        throw std::runtime_error(keyFile.string() + ": not a private key (64 hexadecimal digits)");
    }
    auto key = fromSeed(*seed);
    sodium_memzero(seed->data(), seed->size());
    sodium_memzero(text.data(), text.size());
    return key;
}

std::string SigningKey::seedHex() const {
    return toHex(seed_);
}

std::string SigningKey::publicKeyHex() const {
    return toHex(publicKey_);
}

Bytes SigningKey::sign(ByteView message) const {
    Bytes signature(crypto_sign_BYTES);
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey_.data());
    return signature;
}

void SigningKey::write(const std::filesystem::path& base) const {
    const std::filesystem::path keyFile = base.string() + ".key";
    const std::filesystem::path publicFile = base.string() + ".pub";
    // Check both first, so that a refusal leaves nothing half written.
    for (const auto& path : {keyFile, publicFile}) {
        if (std::filesystem::exists(std::filesystem::symlink_status(path))) {
            throw std::runtime_error(path.string() + " exists; a key file is never replaced");
        }
    }
    auto seedText = seedHex() + "\n";
    Files::writeNewFile(keyFile, seedText, 0600);
    sodium_memzero(seedText.data(), seedText.size());
    try {
        Files::writeNewFile(publicFile, publicKeyHex() + "\n", 0644);
    } catch (...) {
        std::filesystem::remove(keyFile);
        throw;
    }
}

} // namespace quelmar::publish
