#include "install/Sha256Stream.h"

#include "core/Sha256.h"

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace quelmar {

std::array<std::uint8_t, 32> sha256OfDescriptor(int fd, const std::filesystem::path& path) {
    Sha256 hash;
    std::uint8_t buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), path.string());
        }
        if (n == 0) {
            return hash.finish();
        }
        hash.update(ByteView(buffer, static_cast<std::size_t>(n)));
    }
}

} // namespace quelmar
