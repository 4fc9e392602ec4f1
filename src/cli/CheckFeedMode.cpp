#include "cli/Modes.h"
#include "core/SignedUpdates.h"
#include "install/AppMetadata.h"

#include <cerrno>
#include <fstream>
#include <iostream>
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
        std::cout << "Signature verified; packages=" << feed.packages.size()
                  << "; native update=" << (update ? update->version : "none") << '\n'
                  << std::flush;
        return 0;
    } catch (const std::exception& error) {
        std::cout << error.what() << '\n' << std::flush;
        return 1;
    }
}

} // namespace quelmar::Modes
