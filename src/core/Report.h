#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>

namespace quelmar {

// How the board shows itself on USB, in either mode.
namespace Board {
inline constexpr std::uint16_t vendorID = 0x051D;
inline constexpr std::int64_t appProductID = 2;
inline constexpr std::int64_t bootloaderProductID = 3;
// The primary usage pages of its two HID interfaces: the power device (reports 1 to 4) and the vendor's own
// (reports 5 to 8 in APP mode, the IAP packets in bootloader mode).
inline constexpr std::int64_t powerUsagePage = 0x84;
inline constexpr std::int64_t vendorUsagePage = 0xFF00;
} // namespace Board

// One report of APP mode: its ID, byte 0, and its length in bytes, the ID included.
struct ReportLayout {
    std::uint8_t id;
    std::size_t size;

    // The report with every byte but the ID zero, for filling in.
    Bytes blank() const {
        Bytes report(size, 0);
        report[0] = id;
        return report;
    }
};

// The reports of APP mode; bootloader packets use report 1 on the vendor interface (see IAP).
namespace Reports {
inline constexpr ReportLayout summary{1, 8};         // power interface, input report: capacity, status
inline constexpr ReportLayout input{2, 11};          // power interface: input voltage
inline constexpr ReportLayout output{3, 12};         // power interface: load
inline constexpr ReportLayout battery{4, 15};        // power interface: runtime, voltage, current, temperature
inline constexpr ReportLayout enterBootloader{5, 5}; // the ID, then 0x3C four times
inline constexpr ReportLayout identity{6, 6};        // hardware and firmware versions
inline constexpr ReportLayout config{7, 8};          // battery configuration, read and written
inline constexpr ReportLayout telemetry{8, 25};      // full telemetry, from firmware 1.0.8 on
} // namespace Reports

// HID report types as the platform numbers them.
enum class ReportType : int { input = 0, output = 1, feature = 2 };

// The bytes of one HID report, validated for ID and minimum length; byte 0 is the report ID.
class Report {
public:
    // Throws UPSError "Report <id> 长度或标识错误" when bytes is empty, shorter than count or not of this ID.
    Report(ByteView bytes, std::uint8_t id, std::size_t count);
    // The same for the report's own length.
    Report(ByteView bytes, ReportLayout layout)
        : Report(bytes, layout.id, layout.size) {}

    const Bytes& bytes() const { return bytes_; }
    std::uint8_t u8(std::size_t offset) const;
    std::int64_t u16(std::size_t offset) const;
    std::int64_t i16(std::size_t offset) const;
    std::int64_t u32(std::size_t offset) const;

private:
    // Checks that the width bytes at offset lie inside the report.
    void check(std::size_t offset, std::size_t width) const;

    Bytes bytes_;
};

} // namespace quelmar
