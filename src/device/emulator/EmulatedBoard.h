#pragma once

#include "core/Snapshot.h"
#include "device/HIDPlatform.h"
#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedFirmware.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
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

    // The interfaces as the platform lists them now (empty while off the bus).
    std::vector<HIDInterface> enumerate();
    // The role of an interface path of the current enumeration.
    std::optional<InterfaceRole> roleOf(const std::string& path);

    // Transfers with the fault switches applied.
    HIDResult getReport(InterfaceRole on, ReportType type, std::uint8_t id, std::span<std::uint8_t> buffer);
    HIDStatus setReport(InterfaceRole on, ReportType type, ByteView report);
    HIDResult nextInputReport(InterfaceRole on, std::span<std::uint8_t> buffer);

    StoredConfig& storedConfig() { return config_; }
    // How many times one of its interfaces has been opened.
    std::size_t openCount() const { return opens_; }
    void countOpen() { ++opens_; }
    // The telemetry the board measures now, in physical units.
    Snapshot telemetry() const;

private:
    static std::unique_ptr<EmulatedFirmware> firmwareFor(BoardMode mode);

    BoardDescription description_;
    std::size_t index_;
    Clock clock_;
    std::chrono::steady_clock::time_point start_;
    BoardMode mode_;
    std::unique_ptr<EmulatedFirmware> firmware_;
    std::uint64_t epoch_ = 1;
    std::optional<std::chrono::steady_clock::time_point> backAt_; // set while off the bus
    StoredConfig config_;
    std::size_t opens_ = 0;
};

} // namespace quelmar
