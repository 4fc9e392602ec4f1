#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/SignedUpdates.h"
#include "install/AppMetadata.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace quelmar::Modes {

namespace {

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::system_error(errno, std::generic_category(), path);
    }
    Bytes data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw std::system_error(errno, std::generic_category(), path);
    }
    return data;
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
