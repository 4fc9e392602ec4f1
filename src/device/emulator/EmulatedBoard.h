#pragma once

#include "core/Snapshot.h"
#include "device/HIDPlatform.h"
#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedFirmware.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace quelmar {

enum class BoardMode { app, bootloader };

// The live state of one emulated board: its mode, its place on the bus, what it stores.
class EmulatedBoard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    EmulatedBoard(BoardDescription description, std::size_t index, Clock clock);
    EmulatedBoard(const EmulatedBoard&) = delete;
    EmulatedBoard& operator=(const EmulatedBoard&) = delete;

    const BoardDescription& description() const { return description_; }
    BoardMode mode() const { return mode_; }
    std::chrono::steady_clock::time_point now() const { return clock_(); }

    // Whether the board is on the bus; a restarted board comes back here once its absence has passed.
    bool attached();
    // Counts the board's enumerations; a handle opened in an earlier one is gone.
    std::uint64_t epoch() const { return epoch_; }
    // Leaves the bus at once and comes back after the description's restart time in mode, at the same location.
    void restartInto(BoardMode mode);
    // Leaves the bus for good, as an unplugged board does.
    void leaveBus();
    bool gone() const { return backAt_ == std::chrono::steady_clock::time_point::max(); }

    // The interfaces as the platform lists them now (empty while off the bus).
    std::vector<HIDInterface> enumerate();
    // The role of an interface path of the current enumeration.
    std::optional<InterfaceRole> roleOf(const std::string& path);

    // Transfers with the fault switches applied.
    HIDResult getReport(InterfaceRole on, ReportType type, std::uint8_t id, std::span<std::uint8_t> buffer);
    HIDStatus setReport(InterfaceRole on, ReportType type, ByteView report);
    HIDResult nextInputReport(InterfaceRole on, std::span<std::uint8_t> buffer);
    // When the next input report on its way becomes readable (wall time), if one is.
    std::optional<std::chrono::steady_clock::time_point> nextInputDue(InterfaceRole on) const;

    StoredConfig& storedConfig() { return config_; }
    // The APP area as programmed, and whether it holds a sealed image the bootloader will start.
    Bytes& storedImage() { return image_; }
    bool appValid() const { return appValid_; }
    void setAppValid(bool valid) { appValid_ = valid; }
    // The bootloader packets received since the board last entered bootloader mode, in order.
    const std::vector<Bytes>& packetsReceived() const { return packets_; }
    // Records one and returns its number, counted from 1.
    std::size_t recordPacket(ByteView packet);
    // How many times one of its interfaces has been opened, and how many of those handles are still open.
    std::size_t openCount() const { return opens_; }
    std::size_t openHandles() const { return live_; }
    void countOpen() {
        ++opens_;
        ++live_;
    }
    void countClose() { --live_; }
    // The telemetry the board measures now, in physical units.
    Snapshot telemetry() const;
    // What it measures from now on (a board that is not moving).
    void setTelemetry(const Snapshot& telemetry) { description_.telemetry = telemetry; }
    // What it does wrong from now on; while no transfer is under way, since transfers read the delay unlocked.
    void setFaults(const BoardFaults& faults) { description_.faults = faults; }
    // Its place on the bus from its next enumeration on, as a board plugged into another port.
    void moveTo(std::int64_t location) { description_.location = location; }

private:
    static std::unique_ptr<EmulatedFirmware> firmwareFor(BoardMode mode);
    // Takes the board off the bus when the description's leave time has come.
    void leaveWhenDue();
    // The description's next recorded answer to this read, while one applies.
    std::optional<EmulatedFirmware::Reply> replay(InterfaceRole on, ReportType type, std::uint8_t id);

    BoardDescription description_;
    std::size_t index_;
    Clock clock_;
    std::chrono::steady_clock::time_point start_;
    BoardMode mode_;
    std::unique_ptr<EmulatedFirmware> firmware_;
    std::uint64_t epoch_ = 1;
    std::optional<std::chrono::steady_clock::time_point> backAt_; // set while off the bus
    StoredConfig config_;
    Bytes image_;
    bool appValid_ = true;
    std::vector<Bytes> packets_;
    std::size_t opens_ = 0;
    std::size_t live_ = 0;
    bool leaveDone_ = false; // the leave fault has had its turn
    std::map<std::tuple<InterfaceRole, ReportType, std::uint8_t>, std::size_t> replayed_; // answers given per read
    std::set<std::uint8_t> written_; // feature reports written since the start, no longer replayed
};

} // namespace quelmar
