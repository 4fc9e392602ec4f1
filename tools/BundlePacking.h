#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quelmar::publish {

struct PackedArchive {
    std::uint64_t size = 0;
    std::string sha256; // 64 lower-case hex digits
};

// Writes the ZIP archive a feed offers: the bundle's directories and files under the top-level
// "Quelmar_Monitor.app/", in path order, deflated, with their permission bits and a fixed time, so that the same
// bundle always packs to the same bytes. Refuses links and special files. The archive replaces `archive`
// atomically.
PackedArchive pack(const std::filesystem::path& bundle, const std::filesystem::path& archive);

} // namespace quelmar::publish
