#pragma once

#include "core/BundleSeal.h"
#include "core/Bytes.h"

#include <filesystem>
#include <functional>
#include <vector>

// The seal of a bundle on disk: what the publisher tool writes and the installer checks.
namespace quelmar::SealedBundle {

// Every directory and file below the bundle except the manifest, in path order. Throws UPSError in the seal's
// failure form for a link (symbolic, or a file with more than one name), a special file, or a bundle that is not
// a directory; file-system errors pass through.
std::vector<BundleSeal::Item> items(const std::filesystem::path& bundle);

// Writes the manifest of the bundle's current contents, signed by `sign` (message -> 64-byte Ed25519 signature).
void seal(const std::filesystem::path& bundle, const std::function<Bytes(ByteView)>& sign);

// Throws UPSError in the seal's failure form unless the bundle holds exactly what its manifest lists and the
// manifest is signed by publicKey (32 bytes).
void verify(const std::filesystem::path& bundle, ByteView publicKey);

} // namespace quelmar::SealedBundle
