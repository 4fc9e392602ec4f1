#pragma once

#include "core/Bytes.h"
#include "core/Report.h"
#include "device/HIDPlatform.h"
#include "device/emulator/BoardDescription.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace quelmar {

class EmulatedBoard;

// What an emulated board answers in one mode. The board applies the fault switches around it
// and chooses the firmware by mode (EmulatedBoard::restartInto switches it, destroying the old one: a
// firmware that restarts the board touches nothing of itself afterwards).
class EmulatedFirmware {
public:
    struct Reply {
        HIDStatus status = 0;
        Bytes report; // byte 0 is the report ID
    };

    EmulatedFirmware() = default;
    EmulatedFirmware(const EmulatedFirmware&) = delete;
    EmulatedFirmware& operator=(const EmulatedFirmware&) = delete;
    virtual ~EmulatedFirmware() = default;

    // The interfaces the board enumerates with in this mode, and its product ID unless the description sets one.
    virtual std::vector<InterfaceDescription> interfaces(const BoardDescription& description) const = 0;
    virtual std::int64_t productID() const = 0;

    virtual Reply getReport(EmulatedBoard& board, InterfaceRole on, ReportType type, std::uint8_t id) = 0;
    virtual HIDStatus setReport(EmulatedBoard& board, InterfaceRole on, ReportType type, ByteView report) = 0;
    // The next input report the board sends on its own, when one is due.
    virtual std::optional<Bytes> nextInputReport(EmulatedBoard& board, InterfaceRole on);
    // When the next input report that is on its way will be due; absent when none is.
    virtual std::optional<std::chrono::steady_clock::time_point> nextInputDue(InterfaceRole on) const;
};

// APP mode: identity, configuration, full and legacy telemetry; report 5 restarts into the bootloader.
class EmulatedApp final : public EmulatedFirmware {
public:
    std::vector<InterfaceDescription> interfaces(const BoardDescription& description) const override;
    std::int64_t productID() const override { return Board::appProductID; }
    Reply getReport(EmulatedBoard& board, InterfaceRole on, ReportType type, std::uint8_t id) override;
    HIDStatus setReport(EmulatedBoard& board, InterfaceRole on, ReportType type, ByteView report) override;
};

} // namespace quelmar
