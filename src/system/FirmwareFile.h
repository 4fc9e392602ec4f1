#pragma once

#include "core/FirmwareImage.h"

#include <filesystem>

namespace quelmar {

// The APP image in an Intel HEX file. The file is refused by its size before it is read (a file whose size the
// system does not know, a pipe or a device, is read only up to one byte past the limit). Throws UPSError with the
// image's messages, or std::system_error naming the file.
FirmwareImage readFirmwareFile(const std::filesystem::path& path);

} // namespace quelmar
