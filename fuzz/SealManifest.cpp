// The seal's manifest as found in a bundle (the signature is checked first), and the input signed here as a
// manifest's body, so that the line rules are reached. Only UPSError; what open accepts, body writes back byte for
// byte, so that one list of files has one spelling.
#include "Fuzz.h"
#include "core/BundleSeal.h"
#include "core/UPSError.h"

#include <string>
#include <string_view>
#include <vector>

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& key = fuzz::key();
    try {
        BundleSeal::open(fuzz::bytes(data, size), key.publicKey);
    } catch (const UPSError&) {
    }

    const auto body = fuzz::text(data, size);
    const auto manifest = BundleSeal::manifest(body, key.sign(fuzz::bytes(data, size)));
    std::vector<BundleSeal::Item> items;
    try {
        items = BundleSeal::open(ByteView(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()),
                                 key.publicKey);
    } catch (const UPSError&) {
        return 0;
    }
    QUELMAR_FUZZ_CHECK(BundleSeal::body(items) == body);
    BundleSeal::compare(items, items);
    return 0;
}
