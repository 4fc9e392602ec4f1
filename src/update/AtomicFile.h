#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quelmar {

// Writes a temporary file beside path, flushes it to disk and renames it over path, so that readers
// see the old file or the whole new one. Throws std::system_error; leaves no temporary file behind.
void writeFileAtomically(const std::filesystem::path& path, ByteView bytes);

// The file's bytes when it can be read and holds exactly size bytes; otherwise none.
std::optional<Bytes> readFileOfSize(const std::filesystem::path& path, std::int64_t size);

} // namespace quelmar
