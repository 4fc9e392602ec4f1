#include "device/emulator/EmulatedFirmware.h"

#include "core/BatteryConfig.h"
#include "core/DeviceInfo.h"
#include "device/emulator/EmulatedBoard.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace quelmar {

namespace {

// A request the board does not answer stalls; hidraw reports that as EPIPE.
constexpr HIDStatus stalled = EPIPE;

std::int64_t scaled(std::optional<double> value, double scale, std::int64_t min, std::int64_t max) {
    return std::clamp<std::int64_t>(std::llround(value.value_or(0) * scale), min, max);
}

void put16(Bytes& report, std::size_t offset, std::int64_t value) {
    putLittleEndian(report, offset, 2, static_cast<std::uint64_t>(value));
}

std::uint8_t byte(std::optional<std::int64_t> value) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value.value_or(0), 0, 255));
}

std::int64_t volts(std::optional<double> v) {
    return scaled(v, 100, 0, 65535);
}
std::int64_t amperes(std::optional<double> a) {
    return scaled(a, 100, -32768, 32767);
}
std::int64_t celsius(std::optional<double> c) {
    return scaled(c, 10, 0, 65535);
}

Bytes fullReport(const Snapshot& t) {
    Bytes r = Reports::telemetry.blank();
    r[1] = byte(t.capacity);
    put16(r, 2, std::clamp<std::int64_t>(t.runtime.value_or(0), 0, 65535));
    put16(r, 4, volts(t.batteryVoltage));
    put16(r, 6, amperes(t.batteryCurrent));
    put16(r, 8, celsius(t.temperature));
    put16(r, 10, volts(t.inputVoltage));
    put16(r, 12, amperes(t.inputCurrent));
    put16(r, 14, volts(t.output5Voltage));
    put16(r, 16, amperes(t.output5Current));
    put16(r, 18, volts(t.output12Voltage));
    put16(r, 20, amperes(t.output12Current));
    r[22] = byte(t.load);
    put16(r, 23, t.status & 0xFFFF);
    return r;
}

std::optional<Bytes> legacyReport(std::uint8_t id, const Snapshot& t) {
    switch (id) {
    case Reports::summary.id: {
        Bytes r = Reports::summary.blank();
        r[1] = byte(t.capacity);
        put16(r, 6, t.status & 0xFFFF);
        return r;
    }
    case Reports::input.id: {
        Bytes r = Reports::input.blank();
        put16(r, 1, volts(t.inputVoltage));
        return r;
    }
    case Reports::output.id: {
        Bytes r = Reports::output.blank();
        r[1] = byte(t.load);
        return r;
    }
    case Reports::battery.id: {
        Bytes r = Reports::battery.blank();
        put16(r, 1, std::clamp<std::int64_t>(t.runtime.value_or(0), 0, 65535));
        put16(r, 7, volts(t.batteryVoltage));
        put16(r, 9, amperes(t.batteryCurrent));
        put16(r, 13, celsius(t.temperature));
        return r;
    }
    default:
        return std::nullopt;
    }
}

Bytes identityReport(const BoardDescription& d) {
    return {Reports::identity.id, d.hardware[0], d.hardware[1], d.software[0], d.software[1], d.software[2]};
}

} // namespace

std::optional<Bytes> EmulatedFirmware::nextInputReport(EmulatedBoard&, InterfaceRole) {
    return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> EmulatedFirmware::nextInputDue(InterfaceRole) const {
    return std::nullopt;
}

std::vector<InterfaceDescription> EmulatedApp::interfaces(const BoardDescription& description) const {
    return description.interfaces;
}

EmulatedFirmware::Reply EmulatedApp::getReport(EmulatedBoard& board, InterfaceRole on, ReportType type,
                                               std::uint8_t id) {
    const auto& description = board.description();
    if (on == InterfaceRole::power) {
        const bool inputReport = id == Reports::summary.id;
        if (type != (inputReport ? ReportType::input : ReportType::feature)) {
            return {stalled, {}};
        }
        if (auto report = legacyReport(id, board.telemetry())) {
            return {0, std::move(*report)};
        }
        return {stalled, {}};
    }
    if (type != ReportType::feature) {
        return {stalled, {}};
    }
    switch (id) {
    case Reports::identity.id:
        return {0, identityReport(description)};
    case Reports::config.id: {
        const auto& stored = board.storedConfig();
        return {0, BatteryConfig::report(stored.capacity, stored.resistanceMicroOhms, stored.nominal)};
    }
    case Reports::telemetry.id:
        // Firmware answers report 8 from the version on that the client expects it.
        if (!DeviceInfo(identityReport(description)).supportsFullReport()) {
            return {stalled, {}};
        }
        return {0, fullReport(board.telemetry())};
    default:
        return {stalled, {}};
    }
}

HIDStatus EmulatedApp::setReport(EmulatedBoard& board, InterfaceRole on, ReportType type, ByteView report) {
    if (on != InterfaceRole::vendor || type != ReportType::feature || report.empty()) {
        return stalled;
    }
    if (report[0] == Reports::config.id) {
        if (report.size() != Reports::config.size) {
            return stalled;
        }
        const Report written(report, Reports::config);
        const auto& faults = board.description().faults;
        auto& stored = board.storedConfig();
        stored.capacity = faults.readBackCapacity.value_or(written.u16(1));
        stored.resistanceMicroOhms = faults.readBackResistance.value_or(written.u32(3));
        stored.nominal = faults.readBackNominal.value_or(written.u8(7));
        return 0;
    }
    if (report[0] == Reports::enterBootloader.id) {
        const bool magic = report.size() >= Reports::enterBootloader.size &&
                           std::all_of(report.begin() + 1, report.begin() + Reports::enterBootloader.size,
                                       [](std::uint8_t b) { return b == 0x3C; });
        if (magic) {
            board.restartInto(BoardMode::bootloader);
        }
        return 0;
    }
    return stalled;
}

} // namespace quelmar
