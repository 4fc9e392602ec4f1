#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>

namespace quelmar {

// HID report IDs of APP mode; bootloader packets use report 1 on the vendor interface.
namespace ReportID {
inline constexpr std::uint8_t summary = 1;
inline constexpr std::uint8_t input = 2;
inline constexpr std::uint8_t output = 3;
inline constexpr std::uint8_t battery = 4;
inline constexpr std::uint8_t enterBootloader = 5;
inline constexpr std::uint8_t identity = 6;
inline constexpr std::uint8_t config = 7;
inline constexpr std::uint8_t telemetry = 8;
} // namespace ReportID

// HID report types as the platform numbers them.
enum class ReportType : int { input = 0, output = 1, feature = 2 };

// The bytes of one HID report, validated for ID and minimum length; byte 0 is the report ID.
class Report {
public:
    // Throws UPSError "Report <id> 长度或标识错误" when bytes is empty, shorter than count or not of this ID.
    Report(ByteView bytes, std::uint8_t id, std::size_t count);

    const Bytes& bytes() const { return bytes_; }
    std::uint8_t u8(std::size_t offset) const;
    std::int64_t u16(std::size_t offset) const;
    std::int64_t i16(std::size_t offset) const;
    std::int64_t u32(std::size_t offset) const;

private:
    std::uint8_t at(std::size_t offset, std::size_t width, std::size_t index) const;

    Bytes bytes_;
};

// Exactly count bytes of value, lowest first; bytes from index 4 on are zero.
Bytes littleEndian(std::uint32_t value, std::size_t count);

} // namespace quelmar
