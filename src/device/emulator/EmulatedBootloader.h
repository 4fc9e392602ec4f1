#pragma once

#include "device/emulator/EmulatedFirmware.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace quelmar {

// Bootloader mode: product ID 3, one vendor interface, IAP packets as output report 1, each answered
// (unless it is 0x83 or 0x85) by input report 1 carrying a status. Like a single-bank bootloader it erases
// the APP area at 0x81 and programs it in place, so a sequence that is opened but not sealed leaves the
// board without an APP to start: 0x83 and 0x85 then bring it back in bootloader mode.
class EmulatedBootloader final : public EmulatedFirmware {
public:
    // What it answers. A malformed packet (1, 2) is refused before the command's own checks, of which the
    // sequence (3) comes first.
    enum Status : std::uint8_t {
        ok = 0,
        unknownCommand = 1,      // a code other than 0x80 to 0x85
        badLength = 2,           // length byte past 61 or the packet; an empty chunk; a seal not of 8 bytes
        notOpen = 3,             // 0x80, 0x82 or 0x84 before 0x81
        areaFull = 4,            // a 0x80 chunk that would run past the end of the APP area
        writeAfterVerify = 5,    // 0x80 once the read-back pass (or the seal) has begun
        verifyBeyondWritten = 6, // a 0x82 chunk that reaches past what was written
        verifyMismatch = 7,      // a 0x82 chunk that differs from what was written there
        notVerified = 8,         // 0x84 before every written byte was read back (or with nothing written)
        lengthMismatch = 9,      // the sealed length is not the number of bytes written
        crcMismatch = 10,        // the sealed CRC-32 is not that of the bytes written
    };

    std::vector<InterfaceDescription> interfaces(const BoardDescription& description) const override;
    std::int64_t productID() const override { return Board::bootloaderProductID; }
    Reply getReport(EmulatedBoard& board, InterfaceRole on, ReportType type, std::uint8_t id) override;
    HIDStatus setReport(EmulatedBoard& board, InterfaceRole on, ReportType type, ByteView report) override;
    std::optional<Bytes> nextInputReport(EmulatedBoard& board, InterfaceRole on) override;
    std::optional<std::chrono::steady_clock::time_point> nextInputDue(InterfaceRole on) const override;

private:
    struct Outcome {
        std::optional<std::uint8_t> status; // absent: no answer
        bool restart = false;
    };
    struct Pending {
        std::chrono::steady_clock::time_point due;
        Bytes report;
        bool last = false; // the board leaves the bus once this one has been read
    };

    Outcome execute(EmulatedBoard& board, ByteView packet);

    bool open_ = false;      // a sequence is open: the APP area has been erased
    bool verifying_ = false; // the read-back pass or the seal has begun; no more writes
    std::size_t verified_ = 0;
    std::deque<Pending> pending_; // input reports on their way to the host
};

} // namespace quelmar
