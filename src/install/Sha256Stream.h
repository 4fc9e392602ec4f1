#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <filesystem>

namespace quelmar {

// SHA-256 of an open file, read to its end. Throws std::system_error naming path.
std::array<std::uint8_t, 32> sha256OfDescriptor(int fd, const std::filesystem::path& path);

} // namespace quelmar
