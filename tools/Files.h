#pragma once

#include "core/Bytes.h"

#include <filesystem>
#include <string_view>

namespace quelmar::publish {

// Throw std::system_error naming the file.
Bytes readFile(const std::filesystem::path& path);
// Creates a new file (never replaces one) with the given mode.
void writeNewFile(const std::filesystem::path& path, std::string_view content, unsigned mode);
// Replaces the file atomically (temporary file in the same directory, fsync, rename).
void replaceFile(const std::filesystem::path& path, std::string_view content);

} // namespace quelmar::publish
