#pragma once

#include "core/Bytes.h"

#include <string>

namespace quelmar::publish {

class SigningKey;

// The feed's envelope: {"payload": Base64 of feed exactly as given, "signature": Base64 of the
// Ed25519 signature over those bytes}, one line.
std::string signFeed(ByteView feed, const SigningKey& key);

} // namespace quelmar::publish
