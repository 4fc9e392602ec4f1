#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/FirmwareImage.h"
#include "system/Files.h"

#include <cstdio>
#include <string>

namespace quelmar::Modes {

namespace {

// The whole file, refused by its size before it is read; a file whose size the system does not know
// (a pipe, a device) is read only up to one byte past the limit.
std::string readHexFile(const std::string& path) {
    const auto bytes = Files::readUpTo(path, FirmwareImage::maxFileSize);
    if (!bytes) {
        FirmwareImage::checkFileSize(FirmwareImage::maxFileSize + 1); // throws the size message
    }
    return std::string(bytes->begin(), bytes->end());
}

} // namespace

int verifyHex(const std::string& path) {
    try {
        const FirmwareImage image(readHexFile(path));
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", image.crc32());
        Output::line("bytes=" + std::to_string(image.bytes().size()) + " crc32=" + crc);
        return 0;
    } catch (const std::exception& error) {
        return Output::failure(error);
    }
}

} // namespace quelmar::Modes
