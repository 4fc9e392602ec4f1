#include "system/FirmwareFile.h"

#include "system/Files.h"

#include <string>

namespace quelmar {

FirmwareImage readFirmwareFile(const std::filesystem::path& path) {
    const auto bytes = Files::readUpTo(path, FirmwareImage::maxFileSize);
    if (!bytes) {
        FirmwareImage::checkFileSize(FirmwareImage::maxFileSize + 1); // throws the size message
    }
    return FirmwareImage(std::string(bytes->begin(), bytes->end()));
}

} // namespace quelmar
