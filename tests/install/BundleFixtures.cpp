#include "BundleFixtures.h"

#include "Process.h"
#include "install/SealedBundle.h"

#include <stdexcept>

#include <sodium.h>

namespace quelmar::test {

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string infoPlist(const std::map<std::string, std::string>& members) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : members) {
        out += "\t<key>" + escape(key) + "</key>\n\t<string>" + escape(value) + "</string>\n";
    }
    return out + "</dict>\n</plist>\n";
}

std::map<std::string, std::string> clientInfo(const std::string& version, const std::string& executable) {
    return {{"CFBundleExecutable", executable},
            {"CFBundleIdentifier", bundleIdentifier},
            {"CFBundleShortVersionString", version},
            {"QuelmarImplementation", "native"}};
}

const TestKey& TestKey::development() {
    static const TestKey key = [] {
        TestKey k;
        auto text = readFile(developmentKeyFile());
        if (text.ends_with('\n')) {
            text.pop_back();
        }
        std::array<std::uint8_t, 32> seed{};
        std::size_t length = 0;
        if (sodium_init() < 0 ||
            sodium_hex2bin(seed.data(), seed.size(), text.data(), text.size(), nullptr, &length, nullptr) != 0 ||
            length != seed.size()) {
            throw std::runtime_error("bad development key");
        }
        k.fromSeed(seed);
        return k;
    }();
    return key;
}

TestKey::TestKey(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed{};
    seed.fill(fill);
    fromSeed(seed);
}

void TestKey::fromSeed(const std::array<std::uint8_t, 32>& seed) {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium");
    }
    crypto_sign_seed_keypair(publicKey_.data(), secretKey_.data(), seed.data());
}

Bytes TestKey::sign(ByteView message) const {
    Bytes signature(crypto_sign_BYTES);
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey_.data());
    return signature;
}

std::string TestKey::publicKeyHex() const {
    std::string out(65, '\0');
    sodium_bin2hex(out.data(), out.size(), publicKey_.data(), publicKey_.size());
    out.pop_back();
    return out;
}

fs::path developmentKeyFile() {
    return fs::path(QUELMAR_SOURCE_DIR) / "keys" / "development.key";
}

void makeBundle(const fs::path& bundle, const std::map<std::string, std::string>& info, const fs::path& executable,
                const std::string& name) {
    fs::create_directories(bundle / "Contents" / "bin");
    writeFile(bundle / "Contents" / "Info.plist", infoPlist(info));
    fs::copy_file(executable, bundle / "Contents" / "bin" / name, fs::copy_options::overwrite_existing);
}

void sealBundle(const fs::path& bundle, const TestKey& key) {
    SealedBundle::seal(bundle, [&](ByteView message) { return key.sign(message); });
}

void sealWithTool(const fs::path& bundle) {
    runChecked(QUELMAR_PUBLISH, {"seal", "--key", developmentKeyFile().string(), "--public-key",
                                 TestKey::development().publicKeyHex(), bundle.string()});
}

void packWithTool(const fs::path& bundle, const fs::path& archive) {
    runChecked(QUELMAR_PUBLISH,
               {"pack", "--public-key", TestKey::development().publicKeyHex(), bundle.string(), archive.string()});
}

fs::path installBundle(const fs::path& prefix) {
    runChecked(QUELMAR_CMAKE, {"--install", QUELMAR_BUILD_DIR, "--component", "bundle", "--prefix", prefix.string()});
    return prefix / "Quelmar_Monitor.app";
}

std::string reportedVersion(const fs::path& bundle) {
    const auto result = runProcess((bundle / "Contents" / "bin" / "quelmar").string(), {"--version"});
    const auto first = lines(result.out);
    if (result.status != 0 || first.empty() || !first[0].starts_with("Quelmar ")) {
        return "";
    }
    return first[0].substr(8);
}

} // namespace quelmar::test
