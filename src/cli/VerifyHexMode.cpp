#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/FirmwareImage.h"
#include "system/FirmwareFile.h"

#include <cstdio>
#include <string>

namespace quelmar::Modes {

int verifyHex(const std::string& path) {
    try {
        const FirmwareImage image = readFirmwareFile(path);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", image.crc32());
        Output::line("bytes=" + std::to_string(image.bytes().size()) + " crc32=" + crc);
        return 0;
    } catch (const std::exception& error) {
        return Output::failure(error);
    }
}

} // namespace quelmar::Modes
