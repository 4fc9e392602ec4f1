#include "core/Report.h"

#include "core/Precondition.h"
#include "core/UPSError.h"

#include <stdexcept>
#include <string>

namespace quelmar {

Report::Report(ByteView bytes, std::uint8_t id, std::size_t count) {
    if (bytes.empty() || bytes.size() < count || bytes[0] != id) {
        throw UPSError("Report " + std::to_string(id) + " 长度或标识错误");
    }
    bytes_.assign(bytes.begin(), bytes.end());
}

void Report::check(std::size_t offset, std::size_t width) const {
    QUELMAR_EXPECTS(offset + width <= bytes_.size());
    // Checked even where the precondition is compiled out: a misuse throws, it never reads past the end.
    if (offset > bytes_.size() || width > bytes_.size() - offset) {
        throw std::out_of_range("Report field past the end");
    }
}

std::uint8_t Report::u8(std::size_t offset) const {
    check(offset, 1);
    return bytes_[offset];
}

std::int64_t Report::u16(std::size_t offset) const {
    check(offset, 2);
    return littleEndian16(bytes_, offset);
}

std::int64_t Report::i16(std::size_t offset) const {
    return static_cast<std::int16_t>(u16(offset));
}

std::int64_t Report::u32(std::size_t offset) const {
    check(offset, 4);
    return littleEndian32(bytes_, offset);
}

} // namespace quelmar
