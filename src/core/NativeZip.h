#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Structural checks of a client update archive before anything is unpacked: plain ZIP (no ZIP64, one disk),
// every entry inside the bundle, only files and directories, nothing encrypted, a bounded expanded size, and
// local headers that agree with the central directory.
namespace quelmar::NativeZip {

inline constexpr std::uint32_t maxEntries = 19999;
inline constexpr std::uint64_t maxExpandedSize = 1073741824; // 1 GiB, itself allowed

// Every entry lies in the bundle's folder, or in the resource-fork folder that some archivers add.
inline constexpr std::string_view bundleDirectory = "Quelmar_Monitor.app";
inline constexpr std::string_view resourceForkDirectory = "__MACOSX";

// The failures an unpacker can also find, worded as the validator words them.
inline constexpr const char* unsafePath = "ZIP 路径不安全或重复";
inline constexpr const char* linkOrSpecial = "ZIP 包含链接、特殊文件或加密内容";
inline constexpr const char* localMismatch = "ZIP 本地路径或大小不符";

enum class EntryType { regular, directory };

// One central-directory record as the validator accepted it.
struct Entry {
    std::string name; // the stored bytes, not normalized
    // From the mode's type bits; with none recorded, a directory exactly when the name ends in "/", as unpackers
    // infer it.
    EntryType type = EntryType::regular;
    std::uint16_t mode = 0;   // upper 16 bits of the external attributes: type and permission bits
    std::uint16_t method = 0; // 0 stored, 8 deflated
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t localHeaderOffset = 0;

    bool operator==(const Entry&) const = default;
};

// Throws UPSError at the first violation, in archive order. Reads only inside `archive`.
void validate(ByteView archive);

// Validates exactly as validate() does, then returns the records in central-directory order, so that an
// unpacker's view of the archive can be checked against what was validated.
std::vector<Entry> entries(ByteView archive);

} // namespace quelmar::NativeZip
