#include "update/LargeBuffer.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quelmar {

void reserveLarge(Bytes& buffer, std::size_t capacity) {
    if (capacity <= buffer.capacity()) {
        return;
    }
    buffer.reserve(capacity);
#if defined(__linux__)
    constexpr std::uintptr_t hugePage = 2u << 20;
    // Only the untouched capacity beyond the bytes already held, in whole huge pages.
    auto begin = reinterpret_cast<std::uintptr_t>(buffer.data() + buffer.size());
    auto end = reinterpret_cast<std::uintptr_t>(buffer.data() + buffer.capacity());
    begin = (begin + hugePage - 1) & ~(hugePage - 1);
    end &= ~(hugePage - 1);
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // advice only
    }
#endif
}

} // namespace quelmar
