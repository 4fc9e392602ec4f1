// FirmwareImage from the text of a HEX file: only UPSError, and every image lies inside the APP area.
#include "Fuzz.h"
#include "core/FirmwareImage.h"
#include "core/UPSError.h"

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const FirmwareImage image(fuzz::text(data, size));
        QUELMAR_FUZZ_CHECK(!image.bytes().empty() && image.bytes().size() <= FirmwareImage::areaSize);
    } catch (const UPSError&) {
    }
    return 0;
}
