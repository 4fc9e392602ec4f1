#pragma once

#include "core/Bytes.h"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

// Feeds for tests, signed with the repository's development key by the publisher tool's own code.
namespace quelmar::test {

std::string developmentPublicKey();
// The envelope of exactly these feed bytes.
std::string signedEnvelope(std::string_view feed);
std::string signedEnvelopeOf(const nlohmann::json& feed);  // indented by two
std::string signedEnvelopeOf(const std::string&) = delete; // text: use signedEnvelope
std::string signedEnvelopeOf(const char*) = delete;

Bytes bytesOf(std::string_view text);

inline constexpr const char* emptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Valid entries to start from.
nlohmann::json clientPackage(const std::string& version = "2.1.0");
nlohmann::json firmwarePackage(const std::string& version = "1.0.9");
nlohmann::json feedOf(const std::vector<nlohmann::json>& packages);

} // namespace quelmar::test
