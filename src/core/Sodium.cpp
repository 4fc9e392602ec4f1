#include "core/Sodium.h"

#include <stdexcept>

#include <sodium.h>

namespace quelmar {

void requireSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw std::runtime_error("libsodium could not be initialised");
    }
}

} // namespace quelmar
