#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/FirmwareImage.h"
#include "system/Files.h"

#include <cstdio>
#include <string>

namespace quelmar::Modes {

int verifyHex(const std::string& path) {
    try {
        // Refused by its size before it is read; a file whose size the system does not know (a pipe, a device)
        // is read only up to one byte past the limit.
        const auto image = FirmwareImage::fromFile(Files::readUpTo(path, FirmwareImage::maxFileSize));
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", image.crc32());
        Output::line("bytes=" + std::to_string(image.bytes().size()) + " crc32=" + crc);
        return 0;
    } catch (const std::exception& error) {
        return Output::failure(error);
    }
}

} // namespace quelmar::Modes
