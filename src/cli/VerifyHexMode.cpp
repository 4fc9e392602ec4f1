#include "cli/Modes.h"
#include "core/FirmwareImage.h"
#include "core/UPSError.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmar::Modes {

namespace {

class File {
public:
    explicit File(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) {
            throw std::system_error(errno, std::generic_category(), path);
        }
    }
    ~File() { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return fd_; }

private:
    int fd_;
};

// The whole file, refused by its size before it is read; a file whose size the system does not know
// (a pipe, a device) is read only up to one byte past the limit.
std::string readHexFile(const std::string& path) {
    const File file(path);
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0) {
        throw std::system_error(errno, std::generic_category(), path);
    }
    if (S_ISREG(status.st_mode)) {
        FirmwareImage::checkFileSize(status.st_size);
    }
    std::string text;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(file.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), path);
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        FirmwareImage::checkFileSize(static_cast<std::int64_t>(text.size()));
    }
    return text;
}

} // namespace

int verifyHex(const std::string& path) {
    try {
        const FirmwareImage image(readHexFile(path));
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", image.crc32());
        std::cout << "bytes=" << image.bytes().size() << " crc32=" << crc << '\n' << std::flush;
        return 0;
    } catch (const UPSError& error) {
        std::cout << error.message() << '\n' << std::flush;
    } catch (const std::exception& error) {
        std::cout << error.what() << '\n' << std::flush;
    }
    return 1;
}

} // namespace quelmar::Modes
