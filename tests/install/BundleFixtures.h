#pragma once

#include "HexFixtures.h"
#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// Bundles, keys and tools for the installer's tests.
namespace quelmar::test {

namespace fs = std::filesystem;

inline const std::string bundleIdentifier = "net.quelmar.monitor";

// An XML property list whose top-level dictionary holds these text members.
std::string infoPlist(const std::map<std::string, std::string>& members);
// The members a client bundle declares, with this version and executable name.
std::map<std::string, std::string> clientInfo(const std::string& version, const std::string& executable = "quelmar");

// An Ed25519 key pair from a key file of the publisher tool (64 hex digits of the seed).
class TestKey {
public:
    static const TestKey& development();
    explicit TestKey(std::uint8_t fill); // a throwaway key

    Bytes sign(ByteView message) const;
    const std::array<std::uint8_t, 32>& publicKey() const { return publicKey_; }
    std::string publicKeyHex() const;

private:
    TestKey() = default;
    void fromSeed(const std::array<std::uint8_t, 32>& seed);
    std::array<std::uint8_t, 32> publicKey_{};
    std::array<std::uint8_t, 64> secretKey_{};
};

fs::path developmentKeyFile();

// BUNDLE/Contents/Info.plist with info, and BUNDLE/Contents/bin/NAME a copy of executable.
void makeBundle(const fs::path& bundle, const std::map<std::string, std::string>& info, const fs::path& executable,
                const std::string& name = "quelmar");
// Seals in this process with the key.
void sealBundle(const fs::path& bundle, const TestKey& key = TestKey::development());

// The publisher's tool as a process; throws std::runtime_error with its output when it fails.
void sealWithTool(const fs::path& bundle);
void packWithTool(const fs::path& bundle, const fs::path& archive);

// `cmake --install` of the bundle component of this build into prefix; returns prefix/Quelmar_Monitor.app.
fs::path installBundle(const fs::path& prefix);

// The version an installed bundle's executable reports ("Quelmar X.Y.Z" without the prefix).
std::string reportedVersion(const fs::path& bundle);

} // namespace quelmar::test
