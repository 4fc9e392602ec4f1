#include "install/Sha256Stream.h"

#include <cerrno>
#include <system_error>

#include <sodium.h>
#include <unistd.h>

namespace quelmar {

std::array<std::uint8_t, 32> sha256OfDescriptor(int fd, const std::filesystem::path& path) {
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
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
            break;
        }
        crypto_hash_sha256_update(&state, buffer, static_cast<unsigned long long>(n));
    }
    std::array<std::uint8_t, 32> digest{};
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

} // namespace quelmar
