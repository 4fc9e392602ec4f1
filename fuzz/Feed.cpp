// SignedUpdates.verify of an envelope as fetched, against a fixed key: only UPSError and the JSON decoder's errors.
#include "Fuzz.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        SignedUpdates::verify(fuzz::bytes(data, size), fuzz::key().publicKeyHex());
    } catch (const UPSError&) {
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
