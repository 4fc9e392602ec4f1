// The input is a feed's payload, signed here, so that verify reaches the JSON and package rules behind the
// signature. Only UPSError and the JSON decoder's errors; what verify accepts can be chosen from and survives its
// own JSON form unchanged.
#include "Fuzz.h"
#include "core/Base64.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"

#include <optional>
#include <string>

using namespace quelmar;
using nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto payload = fuzz::bytes(data, size);
    const std::string envelope =
        json{{"payload", encodeBase64(payload)}, {"signature", encodeBase64(fuzz::key().sign(payload))}}.dump();
    std::optional<UpdateFeed> feed;
    try {
        feed = SignedUpdates::verify(ByteView(reinterpret_cast<const std::uint8_t*>(envelope.data()), envelope.size()),
                                     fuzz::key().publicKeyHex());
    } catch (const UPSError&) {
        return 0;
    } catch (const json::exception&) {
        return 0;
    }
    SignedUpdates::newerNative(*feed, "0.0.0");
    for (const auto& package : feed->packages) {
        SignedUpdates::checkSizeAndChunks(package);
    }
    QUELMAR_FUZZ_CHECK(json::parse(json(*feed).dump()).get<UpdateFeed>() == *feed);
    return 0;
}
