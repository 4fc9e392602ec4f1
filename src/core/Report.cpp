#include "core/Report.h"

#include "core/Precondition.h"
#include "core/UPSError.h"

#include <string>

namespace quelmar {

Report::Report(ByteView bytes, std::uint8_t id, std::size_t count) {
    if (bytes.empty() || bytes.size() < count || bytes[0] != id) {
        throw UPSError("Report " + std::to_string(id) + " 长度或标识错误");
    }
    bytes_.assign(bytes.begin(), bytes.end());
}

std::uint8_t Report::at(std::size_t offset, [[maybe_unused]] std::size_t width, std::size_t index) const {
    QUELMAR_EXPECTS(offset + width <= bytes_.size());
    // Bounds-checked even where the precondition is compiled out: a misuse throws, it never reads past the end.
    return bytes_.at(offset + index);
}

std::uint8_t Report::u8(std::size_t offset) const {
    return at(offset, 1, 0);
}

std::int64_t Report::u16(std::size_t offset) const {
    return static_cast<std::int64_t>(at(offset, 2, 0)) | static_cast<std::int64_t>(at(offset, 2, 1)) << 8;
}

std::int64_t Report::i16(std::size_t offset) const {
    return static_cast<std::int16_t>(u16(offset));
}

std::int64_t Report::u32(std::size_t offset) const {
    std::int64_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::int64_t>(at(offset, 4, i)) << (8 * i);
    }
    return value;
}

Bytes littleEndian(std::uint32_t value, std::size_t count) {
    Bytes out(count, 0);
    for (std::size_t i = 0; i < count && i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return out;
}

} // namespace quelmar
