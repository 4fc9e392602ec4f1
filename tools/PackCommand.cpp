#include "core/Hex.h"
#include "core/SignedUpdates.h"
#include "install/SealedBundle.h"
#include "tools/Arguments.h"
#include "tools/BundlePacking.h"
#include "tools/Commands.h"

#include <iostream>
#include <stdexcept>

namespace quelmar::publish {

namespace {

int pack(std::span<const std::string> arguments) {
    const auto parsed = Arguments::parse(arguments, {"--public-key"}, {});
    parsed.expectPositional(2);
    const std::filesystem::path bundle = parsed.positional[0];
    // A feed never offers what its clients would refuse.
    const auto key = fromHex(parsed.option("--public-key").value_or(std::string(SignedUpdates::publicKey)));
    if (!key || key->size() != 32) {
        throw UsageError("--public-key must be 64 hexadecimal digits");
    }
    SealedBundle::verify(bundle, *key);
    const auto packed = publish::pack(bundle, parsed.positional[1]);
    std::cout << "size=" << packed.size << " sha256=" << packed.sha256 << '\n';
    return 0;
}

} // namespace

const Command packCommand{
    "pack",
    "[--public-key HEX] BUNDLE ARCHIVE",
    "pack a sealed bundle into the ZIP archive a feed offers",
    "Checks BUNDLE's seal against the key HEX (default: the key this tool was built to trust), then writes\n"
    "ARCHIVE: a ZIP of BUNDLE under the top-level folder Quelmar_Monitor.app/, deflated, in path order,\n"
    "with each entry's permission bits and a fixed time, so that the same bundle packs to the same bytes.\n"
    "The archive is checked as clients check it before it replaces ARCHIVE. Prints the feed entry's size\n"
    "and sha256.\n",
    pack,
};

} // namespace quelmar::publish
