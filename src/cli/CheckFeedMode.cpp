#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "install/AppMetadata.h"
#include "system/Files.h"

#include <utility>

namespace quelmar::Modes {

namespace {

// Bounded like the client's own fetch, so a device or a huge file cannot make the check hang or exhaust memory.
Bytes readFile(const std::string& path) {
    auto bytes = Files::readUpTo(path, static_cast<std::uint64_t>(SignedUpdates::maxFeed));
    if (!bytes) {
        throw UPSError("更新清单过大");
    }
    return std::move(*bytes);
}

} // namespace

int checkFeed(const std::string& path) {
    try {
        const auto feed = SignedUpdates::verify(readFile(path), SignedUpdates::publicKey);
        const auto update = SignedUpdates::newerNative(feed, AppMetadata::version());
        Output::line("Signature verified; packages=" + std::to_string(feed.packages.size()) +
                     "; native update=" + (update ? update->version : "none"));
        return 0;
    } catch (const std::exception& error) {
        return Output::failure(error);
    }
}

} // namespace quelmar::Modes
