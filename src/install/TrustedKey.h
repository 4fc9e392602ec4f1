#pragma once

#include "core/Bytes.h"

namespace quelmar {

// The 32-byte Ed25519 public key this build trusts for feeds and bundle seals.
ByteView trustedPublicKey();

} // namespace quelmar
