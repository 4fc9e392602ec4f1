#include "core/SignedUpdates.h"
#include "system/Files.h"
#include "tools/Arguments.h"
#include "tools/Commands.h"
#include "tools/FeedSigning.h"
#include "tools/SigningKey.h"

#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

namespace quelmar::publish {

namespace {

int signFeed(std::span<const std::string> arguments) {
    const auto parsed = Arguments::parse(arguments, {"--key", "--output"}, {"--allow-invalid"});
    parsed.expectPositional(1);
    const auto key = SigningKey::read(parsed.requiredOption("--key"));
    const auto& source = parsed.positional[0];
    const auto feed = Files::readUpTo(source, SignedUpdates::maxFeed);
    if (!feed) {
        throw std::runtime_error(source + ": larger than any feed a client fetches (" +
                                 std::to_string(SignedUpdates::maxFeed) + " bytes)");
    }
    const auto envelope = publish::signFeed(*feed, key);

    // A feed that clients would refuse is a broken release; only tests sign such feeds on purpose.
    if (!parsed.flag("--allow-invalid")) {
        try {
            const std::string_view text(envelope);
            SignedUpdates::verify(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                  key.publicKeyHex());
        } catch (const std::exception& error) {
            throw std::runtime_error(source + ": clients would refuse this feed: " + error.what());
        }
    }
    if (const auto output = parsed.option("--output")) {
        Files::writeAtomically(*output, envelope);
    } else {
        std::cout << envelope << std::flush;
    }
    return 0;
}

} // namespace

const Command signFeedCommand{
    "sign-feed",
    "--key KEY [--output ENVELOPE] [--allow-invalid] FEED",
    "sign a feed JSON file into its envelope",
    "Signs the bytes of FEED exactly as they are with the private key in KEY and writes the envelope\n"
    "{\"payload\": Base64 of FEED, \"signature\": Base64 of the Ed25519 signature} to ENVELOPE, or to\n"
    "standard output. The signed feed is first checked as a client would check it, against KEY's public\n"
    "key; a feed a client would refuse is not written unless --allow-invalid is given.\n",
    signFeed,
};

} // namespace quelmar::publish
