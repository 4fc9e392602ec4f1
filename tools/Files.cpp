#include "tools/Files.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmar::publish {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path) {
    throw std::system_error(errno, std::generic_category(), path.string());
}

void writeAll(int fd, std::string_view content, const std::filesystem::path& path) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(path);
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::fsync(fd) != 0) {
        fail(path);
    }
}

} // namespace

Bytes readFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(path);
    }
    Bytes out;
    std::uint8_t buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            fail(path);
        }
        if (n == 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    ::close(fd);
    return out;
}

void writeNewFile(const std::filesystem::path& path, std::string_view content, unsigned mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        fail(path);
    }
    try {
        ::fchmod(fd, static_cast<mode_t>(mode)); // regardless of the umask
        writeAll(fd, content, path);
    } catch (...) {
        ::close(fd);
        ::unlink(path.c_str());
        throw;
    }
    ::close(fd);
}

void replaceFile(const std::filesystem::path& path, std::string_view content) {
    const auto directory = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        fail(path);
    }
    try {
        ::fchmod(fd, 0644);
        writeAll(fd, content, path);
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail(path);
    }
}

} // namespace quelmar::publish
