#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quelmar::publish {

// An Ed25519 key pair held as its 32-byte seed. Key files are text: 64 hex digits and a line feed,
// the seed in NAME.key (mode 0600) and the public key in NAME.pub.
class SigningKey {
public:
    static SigningKey generate();
    static SigningKey fromSeed(ByteView seed);
    // Throws std::runtime_error naming the file when it is not one seed in 64 hex digits.
    static SigningKey read(const std::filesystem::path& keyFile);

    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;
    SigningKey(SigningKey&&) noexcept;
    ~SigningKey();

    std::string seedHex() const;
    std::string publicKeyHex() const;
    // The detached 64-byte signature of message.
    Bytes sign(ByteView message) const;

    // Writes base + ".key" and base + ".pub"; refuses to replace either file.
    void write(const std::filesystem::path& base) const;

private:
    SigningKey();

    std::array<std::uint8_t, 32> seed_{};
    std::array<std::uint8_t, 32> publicKey_{};
    std::array<std::uint8_t, 64> secretKey_{};
};

} // namespace quelmar::publish
