#include "tools/BundleCommands.h"

#include "install/Files.h"
#include "install/SealedBundle.h"
#include "tools/BundlePacking.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include <sodium.h>

namespace quelmar::publish {

namespace {

struct Parsed {
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
};

Parsed parse(std::span<const std::string> arguments, std::initializer_list<std::string> known, std::size_t count) {
    Parsed out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i].starts_with("--")) {
            if (std::find(known.begin(), known.end(), arguments[i]) == known.end()) {
                throw std::invalid_argument("unknown option " + arguments[i]);
            }
            if (i + 1 == arguments.size()) {
                throw std::invalid_argument(arguments[i] + " needs a value");
            }
            out.options[arguments[i]] = arguments[i + 1];
            ++i;
        } else {
            out.positional.push_back(arguments[i]);
        }
    }
    if (out.positional.size() != count) {
        throw std::invalid_argument("expected " + std::to_string(count) + " arguments");
    }
    return out;
}

std::array<std::uint8_t, 32> publicKeyFromHex(const std::string& text) {
    std::array<std::uint8_t, 32> key{};
    std::size_t length = 0;
    const char* end = nullptr;
    if (text.size() != 64 ||
        sodium_hex2bin(key.data(), key.size(), text.data(), text.size(), nullptr, &length, &end) != 0 ||
        length != key.size() || end != text.data() + text.size()) {
        throw std::invalid_argument("--public-key must be 64 hexadecimal digits");
    }
    return key;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string out(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes.data(), bytes.size());
    out.pop_back();
    return out;
}

// A key file holds the 32-byte Ed25519 seed in 64 hex digits and a line feed.
class Signer {
public:
    explicit Signer(const std::string& path) {
        const auto text = Files::readUpTo(path, 256);
        std::string digits(text ? std::string(text->begin(), text->end()) : std::string());
        if (digits.ends_with('\n')) {
            digits.pop_back();
        }
        std::array<std::uint8_t, 32> seed{};
        std::size_t length = 0;
        const char* end = nullptr;
        if (digits.size() != 64 ||
            sodium_hex2bin(seed.data(), seed.size(), digits.data(), digits.size(), nullptr, &length, &end) != 0 ||
            length != seed.size()) {
            throw std::runtime_error(path + ": not an Ed25519 seed in 64 hexadecimal digits");
        }
        crypto_sign_seed_keypair(publicKey.data(), secretKey_.data(), seed.data());
        sodium_memzero(seed.data(), seed.size());
    }
    ~Signer() { sodium_memzero(secretKey_.data(), secretKey_.size()); }
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    Bytes sign(ByteView message) const {
        Bytes signature(crypto_sign_BYTES);
        crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey_.data());
        return signature;
    }

    std::array<std::uint8_t, 32> publicKey{};

private:
    std::array<std::uint8_t, 64> secretKey_{};
};

void requireSodium() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium could not be initialised");
    }
}

} // namespace

int seal(std::span<const std::string> arguments) {
    const auto parsed = parse(arguments, {"--key", "--public-key"}, 1);
    if (!parsed.options.contains("--key")) {
        throw std::invalid_argument("--key is required");
    }
    requireSodium();
    const Signer signer(parsed.options.at("--key"));
    // The key the client build trusts; sealing with another would make an update every client refuses.
    if (const auto expected = parsed.options.find("--public-key"); expected != parsed.options.end()) {
        if (publicKeyFromHex(expected->second) != signer.publicKey) {
            throw std::runtime_error(parsed.options.at("--key") + " is not the private half of " + expected->second);
        }
    }
    const std::filesystem::path bundle = parsed.positional[0];
    SealedBundle::seal(bundle, [&](ByteView message) { return signer.sign(message); });
    SealedBundle::verify(bundle, signer.publicKey);
    std::cout << "sealed " << bundle.string() << " for " << hex(signer.publicKey) << '\n';
    return 0;
}

int pack(std::span<const std::string> arguments) {
    const auto parsed = parse(arguments, {"--public-key"}, 2);
    requireSodium();
    const std::filesystem::path bundle = parsed.positional[0];
    if (const auto key = parsed.options.find("--public-key"); key != parsed.options.end()) {
        SealedBundle::verify(bundle, publicKeyFromHex(key->second));
    } else if (!std::filesystem::is_regular_file(bundle / BundleSeal::manifestPath)) {
        throw std::runtime_error(bundle.string() + ": not sealed");
    }
    const auto packed = publish::pack(bundle, parsed.positional[1]);
    std::cout << "size=" << packed.size << " sha256=" << packed.sha256 << '\n';
    return 0;
}

} // namespace quelmar::publish
