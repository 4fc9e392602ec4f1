#pragma once

#include "BuildConfig.h"
#include "core/Bytes.h"
#include "core/UpdateFeed.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The signed update feed: its constants, its verification and the choice of the client update.
namespace quelmar::SignedUpdates {

// The largest package accepted anywhere in the update path (100 MiB).
inline constexpr std::int64_t maxPackage = 104857600;
// The largest feed envelope a client fetches.
inline constexpr std::int64_t maxFeed = 524288;
// The default feed address and the Ed25519 key (64 hex digits) that signs it, fixed at build time.
inline constexpr std::string_view feedURL = BuildConfig::feedURL;
inline constexpr std::string_view publicKey = BuildConfig::publicKey;
// The platform a client package must name to be offered to this build.
inline constexpr std::string_view platform = BuildConfig::platform;

// Checks the envelope's Ed25519 signature with key (hex), then decodes the payload and checks every
// package. Throws UPSError with the user-facing message, or the JSON decoder's error unchanged.
UpdateFeed verify(ByteView data, std::string_view key);

// The part of verify's package rules that bounds a download: size in 1 … maxPackage and, for "raw-chunks",
// the chunk rules (count, each chunk's size, digest and address, their sum). Throws verify's UPSError.
void checkSizeAndChunks(const UpdatePackage& package);

// The newest "native" client package for this platform that is newer than current, the first listed
// among equals. Throws UPSError when a version does not parse.
std::optional<UpdatePackage> newerNative(const UpdateFeed& feed, std::string_view current);

// SHA-256 as 64 lower-case hex digits.
std::string hash(ByteView bytes);

// Exactly 64 characters, each from "0123456789abcdef".
bool validHash(std::string_view text);

} // namespace quelmar::SignedUpdates
