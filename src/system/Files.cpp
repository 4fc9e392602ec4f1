#include "system/Files.h"

#include <cerrno>
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

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace

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
    std::uint8_t buffer[65536];
    while (true) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throwErrno(path);
        }
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > maxSize) {
            return std::nullopt;
        }
    }
}

void writeAtomically(const fs::path& path, std::string_view content, unsigned mode) {
    writeAtomically(path, ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()), mode);
}

void writeAtomically(const fs::path& path, ByteView content, unsigned mode) {
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        throwErrno(temporary);
    }
    try {
        if (::fchmod(file.get(), mode) != 0) {
            throwErrno(temporary);
        }
        std::size_t written = 0;
        while (written < content.size()) {
            const ssize_t n = ::write(file.get(), content.data() + written, content.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                throwErrno(temporary);
            }
            written += static_cast<std::size_t>(n);
        }
        if (::fsync(file.get()) != 0 || ::close(file.release()) != 0) {
            throwErrno(temporary);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            throwErrno(path);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The rename itself must survive a crash too.
    const Descriptor parent(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() >= 0) {
        ::fsync(parent.get());
    }
}

std::optional<Bytes> readFileOfSize(const fs::path& path, std::int64_t size) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != size) {
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(n);
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
