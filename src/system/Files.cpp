#include "system/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmar::Files {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const fs::path& path) {
    throw std::system_error(errno, std::generic_category(), path.string());
}

} // namespace

void readToEnd(int fd, const std::function<bool(ByteView)>& take, const std::string& name) {
    std::uint8_t buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), name);
        }
        if (n == 0 || !take(ByteView(buffer, static_cast<std::size_t>(n)))) {
            return;
        }
    }
}

void writeAll(int fd, ByteView content, const std::string& name) {
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), name);
        }
        written += static_cast<std::size_t>(n);
    }
}

std::optional<Bytes> readUpTo(const fs::path& path, std::uint64_t maxSize, bool followLinks) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
    if (file.get() < 0) {
        throwErrno(path);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throwErrno(path);
    }
    if (S_ISREG(status.st_mode) && static_cast<std::uint64_t>(status.st_size) > maxSize) {
        return std::nullopt;
    }
    Bytes bytes;
    if (S_ISREG(status.st_mode)) {
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    }
    readToEnd(
        file.get(),
        [&](ByteView block) {
            bytes.insert(bytes.end(), block.begin(), block.end());
            return bytes.size() <= maxSize;
        },
        path.string());
    if (bytes.size() > maxSize) {
        return std::nullopt;
    }
    return bytes;
}

AtomicFile::AtomicFile(fs::path path, unsigned mode)
    : path_(std::move(path)) {
    const fs::path directory = path_.has_parent_path() ? path_.parent_path() : fs::path(".");
    directory_.reset(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory_.get() < 0) {
        throwErrno(path_);
    }
    std::string temporary = (directory / ("." + path_.filename().string() + ".XXXXXX")).string();
    file_.reset(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file_.get() < 0) {
        throwErrno(path_);
    }
    temporary_ = std::move(temporary);
    // Regardless of the umask.
    if (::fchmod(file_.get(), static_cast<mode_t>(mode)) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        throw std::system_error(error, std::generic_category(), path_.string());
    }
}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        ::unlink(temporary_.c_str());
    }
}

void AtomicFile::commit(bool replace) {
    if (::fsync(file_.get()) != 0 || ::close(file_.release()) != 0) {
        throwErrno(path_);
    }
    if (::renameat2(directory_.get(), temporary_.filename().c_str(), directory_.get(), path_.filename().c_str(),
                    replace ? 0 : RENAME_NOREPLACE) != 0) {
        throwErrno(path_);
    }
    committed_ = true;
    // The rename must survive a crash too. A file system that cannot flush a directory says EINVAL; there the
    // rename is as durable as it makes it.
    if (::fsync(directory_.get()) != 0 && errno != EINVAL) {
        throwErrno(path_);
    }
}

void writeAtomically(const fs::path& path, ByteView content, unsigned mode) {
    AtomicFile file(path, mode);
    writeAll(file.descriptor(), content, path.string());
    file.commit();
}

void writeAtomically(const fs::path& path, std::string_view content, unsigned mode) {
    writeAtomically(path, ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()), mode);
}

void writeNewFile(const fs::path& path, std::string_view content, unsigned mode) {
    AtomicFile file(path, mode);
    writeAll(file.descriptor(), ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()),
             path.string());
    file.commit(false);
}

unsigned modeOr(const fs::path& path, unsigned fallback) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return fallback;
    }
    return status.st_mode & 07777;
}

std::optional<Bytes> readFileOfSize(const fs::path& path, std::int64_t size) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != size) {
        return std::nullopt;
    }
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    try {
        readToEnd(
            file.get(),
            [&](ByteView block) {
                const auto wanted = std::min(block.size(), static_cast<std::size_t>(size) - bytes.size());
                bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(wanted));
                return bytes.size() < static_cast<std::size_t>(size);
            },
            path.string());
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (bytes.size() != static_cast<std::size_t>(size)) {
        return std::nullopt;
    }
    return bytes;
}

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && *found->pw_dir != '\0') {
        return found->pw_dir;
    }
    throw std::runtime_error("the home directory is unknown");
}

fs::path updatesDirectory() {
    return homeDirectory() / updatesDirectoryName;
}

fs::path standardized(const fs::path& path) {
    fs::path out = fs::absolute(path).lexically_normal();
    if (out.has_relative_path() && out.filename().empty()) {
        out = out.parent_path();
    }
    return out;
}

} // namespace quelmar::Files
