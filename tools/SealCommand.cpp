#include "core/Hex.h"
#include "install/SealedBundle.h"
#include "tools/Arguments.h"
#include "tools/Commands.h"
#include "tools/SigningKey.h"

#include <iostream>
#include <stdexcept>

namespace quelmar::publish {

namespace {

int seal(std::span<const std::string> arguments) {
    const auto parsed = Arguments::parse(arguments, {"--key", "--public-key"}, {});
    parsed.expectPositional(1);
    const auto keyFile = parsed.requiredOption("--key");
    const auto key = SigningKey::read(keyFile);
    // The key the client build trusts: a bundle sealed with another is one every such client refuses.
    if (const auto expected = parsed.option("--public-key")) {
        const auto wanted = fromHex(*expected);
        if (!wanted || wanted->size() != 32) {
            throw UsageError("--public-key must be 64 hexadecimal digits");
        }
        if (toHex(*wanted) != key.publicKeyHex()) {
            throw std::runtime_error(keyFile + " is not the private half of " + *expected);
        }
    }
    const std::filesystem::path bundle = parsed.positional[0];
    SealedBundle::seal(bundle, [&](ByteView message) { return key.sign(message); });
    const auto publicKey = fromHex(key.publicKeyHex()).value();
    SealedBundle::verify(bundle, publicKey);
    std::cout << "sealed " << bundle.string() << " with " << key.publicKeyHex() << '\n';
    return 0;
}

} // namespace

const Command sealCommand{
    "seal",
    "--key KEY [--public-key HEX] BUNDLE",
    "seal a client bundle: a signed manifest of every file",
    "Writes BUNDLE/Contents/Seal: every directory and file of BUNDLE with its permission bits, size and\n"
    "SHA-256, signed with the private key in KEY. Clients install only a bundle whose files match its seal\n"
    "exactly and whose seal the key they were built with has signed. Links, special files and setuid,\n"
    "setgid or sticky bits are refused. With --public-key, KEY must be the private half of that key (the\n"
    "build's own, as the bundle target passes it). The seal is checked again after it is written.\n",
    seal,
};

} // namespace quelmar::publish
