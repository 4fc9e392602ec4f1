#include "SignedFeeds.h"

#include "core/SignedUpdates.h"
#include "tools/FeedSigning.h"
#include "tools/SigningKey.h"

namespace quelmar::test {

namespace {

const publish::SigningKey& developmentKey() {
    static const auto key = publish::SigningKey::read(QUELMAR_DEVELOPMENT_KEY);
    return key;
}

} // namespace

std::string developmentPublicKey() {
    return developmentKey().publicKeyHex();
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string signedEnvelope(std::string_view feed) {
    return publish::signFeed(bytesOf(feed), developmentKey());
}

std::string signedEnvelopeOf(const nlohmann::json& feed) {
    return signedEnvelope(feed.dump(2));
}

nlohmann::json clientPackage(const std::string& version) {
    return {
        {"kind", "monitor"},
        {"platform", std::string(SignedUpdates::platform)},
        {"implementation", "native"},
        {"version", version},
        {"url", "https://downloads.example.org/Quelmar_Monitor-" + version + ".zip"},
        {"size", 1000},
        {"sha256", emptyDigest},
        {"notes", "修复了若干问题"},
    };
}

nlohmann::json firmwarePackage(const std::string& version) {
    return {
        {"kind", "firmware"},
        {"model", "Quelmar DC UPS"},
        {"hardware", {"1.2", "1.3"}},
        {"version", version},
        {"url", "https://downloads.example.org/firmware-" + version + ".hex"},
        {"size", 2048},
        {"sha256", emptyDigest},
    };
}

nlohmann::json feedOf(const std::vector<nlohmann::json>& packages) {
    return {{"schema", 1}, {"packages", nlohmann::json(packages)}};
}

} // namespace quelmar::test
