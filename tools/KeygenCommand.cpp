#include "tools/Arguments.h"
#include "tools/Commands.h"
#include "tools/SigningKey.h"

#include <iostream>

namespace quelmar::publish {

namespace {

int keygen(std::span<const std::string> arguments) {
    const auto parsed = Arguments::parse(arguments, {}, {});
    parsed.expectPositional(1);
    const auto key = SigningKey::generate();
    key.write(parsed.positional[0]);
    std::cout << key.publicKeyHex() << '\n';
    return 0;
}

} // namespace

const Command keygenCommand{
    "keygen",
    "NAME",
    "generate an Ed25519 key pair into NAME.key and NAME.pub",
    "Writes a new Ed25519 key pair: the private key as its 32-byte seed in 64 hexadecimal digits to\n"
    "NAME.key (mode 0600), the public key in 64 hexadecimal digits to NAME.pub, and prints the public\n"
    "key. Existing files are never replaced. A client built with -DQUELMAR_PUBLIC_KEY=<public key>\n"
    "accepts only feeds signed with this private key.\n",
    keygen,
};

} // namespace quelmar::publish
