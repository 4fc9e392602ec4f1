// Version from any text: only UPSError, and always three parts.
#include "core/Version.h"

#include "Fuzz.h"
#include "core/UPSError.h"

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const Version version(fuzz::text(data, size));
        QUELMAR_FUZZ_CHECK(version.parts().size() == 3);
        QUELMAR_FUZZ_CHECK(version == version && !(version < version));
    } catch (const UPSError&) {
    }
    return 0;
}
