#include "network/UsersFile.h"

#include "network/UPSProtocol.h"
#include "system/Descriptor.h"
#include "system/Files.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

namespace quelmar::UsersFile {

namespace {

constexpr std::size_t maxSize = 64 * 1024;

} // namespace

UPSUsers parse(std::string_view text) {
    UPSUsers users;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const auto words = requestWords(line);
        if (words && (words->empty() || words->front().starts_with('#'))) {
            continue;
        }
        const auto where = "line " + std::to_string(number);
        if (!words || words->size() != 2 || (*words)[0].empty() || (*words)[1].empty()) {
            throw std::runtime_error(where + ": expected NAME PASSWORD");
        }
        if (!users.emplace((*words)[0], (*words)[1]).second) {
            throw std::runtime_error(where + ": " + (*words)[0] + " is named twice");
        }
    }
    return users;
}

UPSUsers read(const std::filesystem::path& path) {
    const auto name = path.string();
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
        throw std::runtime_error(name + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::runtime_error(name + ": not a regular file");
    }
    if (status.st_mode & (S_IRGRP | S_IROTH)) {
        throw std::runtime_error(name + ": readable by group or others; it holds passwords (chmod 600 " + name + ")");
    }
    std::string text;
    bool tooLarge = false;
    try {
        Files::readToEnd(
            fd.get(),
            [&](ByteView block) {
                text.append(block.begin(), block.end());
                tooLarge = text.size() > maxSize;
                return !tooLarge;
            },
            name);
    } catch (const std::system_error& e) {
        throw std::runtime_error(e.what());
    }
    if (tooLarge) {
        throw std::runtime_error(name + ": larger than 64 KiB");
    }
    try {
        return parse(text);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(name + ": " + e.what());
    }
}

} // namespace quelmar::UsersFile
