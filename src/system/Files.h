#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace quelmar::Files {

// The whole file, or none when it holds more than maxSize bytes (found out before reading it all).
// Throws std::system_error naming the file.
std::optional<Bytes> readUpTo(const std::filesystem::path& path, std::uint64_t maxSize, bool followLinks = true);

// Writes a temporary file beside path, flushes it to disk and renames it over path, so that readers see the
// old file or the whole new one. Throws std::system_error; leaves no temporary file behind.
void writeAtomically(const std::filesystem::path& path, ByteView content, unsigned mode = 0644);
void writeAtomically(const std::filesystem::path& path, std::string_view content, unsigned mode = 0644);

// The file's bytes when it is a regular file that can be read and holds exactly size bytes; otherwise none.
std::optional<Bytes> readFileOfSize(const std::filesystem::path& path, std::int64_t size);

// $HOME, else the password database's entry. Throws std::runtime_error when neither names one.
std::filesystem::path homeDirectory();

// The per-user directory of downloaded packages, the chunk cache and the installer's log.
inline constexpr std::string_view updatesDirectoryName = ".vetrola/native-updates";
std::filesystem::path updatesDirectory();

// Absolute, "." and ".." removed lexically, no trailing separator; links are not resolved.
std::filesystem::path standardized(const std::filesystem::path& path);

} // namespace quelmar::Files
