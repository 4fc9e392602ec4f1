#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The seal of an application bundle: a manifest of every directory and file inside it (path, and for files
// permission bits, size and SHA-256), signed with Ed25519 by the publisher key. These are the platform-free
// rules; walking a bundle on disk lives with the installer.
//
// Manifest text, LF line ends, paths relative to the bundle with "/" separators in strictly increasing byte
// order:
//   quelmar-seal 1
//   d Contents
//   f 0755 1234 <64 hex digits of SHA-256> Contents/bin/quelmar
//   signature <128 hex digits>
// The signature covers every byte before "signature".
namespace quelmar::BundleSeal {

// The name failures are reported under, as a tool's would be.
inline constexpr std::string_view toolName = "seal";
// Where the manifest lies in the bundle; it is the one file the manifest does not list.
inline constexpr std::string_view manifestPath = "Contents/Seal";
inline constexpr std::size_t maxManifestSize = 16 * 1024 * 1024;

using Digest = std::array<std::uint8_t, 32>;

struct Item {
    std::string path;
    bool directory = false;
    std::uint32_t mode = 0; // permission bits of a file; 0 for a directory
    std::uint64_t size = 0;
    Digest sha256{};

    bool operator==(const Item&) const = default;
};

// The signed part of the manifest for these items, in any order. Throws UPSError (in toolFailure form) for a
// path the manifest cannot hold, a file with setuid, setgid or sticky bits (installing strips them) or a path
// listed twice.
std::string body(std::vector<Item> items);

// body followed by its signature line.
std::string manifest(std::string_view body, ByteView signature);

// Checks the signature against the 32-byte public key, then reads the items. Throws UPSError in toolFailure
// form for a bad signature or a manifest not written by body().
std::vector<Item> open(ByteView manifest, ByteView publicKey);

// Throws UPSError in toolFailure form naming the first path (in path order) that is missing, added or changed
// in `found` compared with `sealed`. Both lists must be in path order, as body() and open() keep them.
void compare(const std::vector<Item>& sealed, const std::vector<Item>& found);

} // namespace quelmar::BundleSeal
