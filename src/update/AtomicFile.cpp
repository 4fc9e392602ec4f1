#include "update/AtomicFile.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmar {

namespace {

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

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

void writeFileAtomically(const std::filesystem::path& path, ByteView bytes) {
    const auto directory = path.parent_path();
    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        fail("create " + temporary);
    }
    try {
        const auto* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(file.get(), data, left);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail("write " + temporary);
            }
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        if (::fsync(file.get()) != 0) {
            fail("fsync " + temporary);
        }
        if (::close(file.release()) != 0) {
            fail("close " + temporary);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            fail("rename " + temporary + " to " + path.string());
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The rename itself must survive a crash too.
    Descriptor parent(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() >= 0) {
        ::fsync(parent.get());
    }
}

std::optional<Bytes> readFileOfSize(const std::filesystem::path& path, std::int64_t size) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

} // namespace quelmar
