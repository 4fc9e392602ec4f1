#include "device/emulator/EmulatedBoard.h"

#include "device/emulator/EmulatedBootloader.h"

#include <algorithm>
#include <cmath>

namespace quelmar {

namespace {

// A ten-minute cycle: five minutes on mains charging from 40 % (full after four and a half), then five
// minutes on battery back down to 40 %. Loads wander a little so that every reading moves.
Snapshot movingTelemetry(double seconds, std::int64_t capacityMah) {
    constexpr double period = 600, charging = 300;
    const double phase = std::fmod(seconds, period);
    const bool onMains = phase < charging;
    const double soc = onMains ? std::min(100.0, 40 + phase * 60 / 270) : 100 - (phase - charging) * 60 / 300;
    const bool full = onMains && soc >= 100;

    const double out5Current = 0.8 + 0.1 * std::sin(seconds / 7);
    const double out12Current = 0.45 + 0.05 * std::sin(seconds / 11);
    const double out5Voltage = 5.02 + 0.02 * std::sin(seconds / 3);
    const double out12Voltage = 12.01 + 0.03 * std::sin(seconds / 5);
    const double loadWatts = out5Voltage * out5Current + out12Voltage * out12Current;
    const double batteryVoltage = 10.8 + 1.8 * soc / 100 + (onMains && !full ? 0.15 : 0);
    const double batteryCurrent = onMains ? (full ? 0.0 : 1.2 * (1.1 - soc / 100)) : -loadWatts / 0.92 / batteryVoltage;
    const double inputVoltage = onMains ? 12.05 + 0.03 * std::sin(seconds / 2) : 0.0;
    const double inputCurrent =
        onMains ? (loadWatts / 0.92 + std::max(0.0, batteryCurrent) * batteryVoltage) / inputVoltage : 0.0;

    Snapshot t;
    t.capacity = std::llround(soc);
    const double storedWattHours = soc / 100 * static_cast<double>(capacityMah) / 1000 * batteryVoltage;
    t.runtime = std::llround(std::min(65535.0, storedWattHours / loadWatts * 3600));
    t.batteryVoltage = batteryVoltage;
    t.batteryCurrent = batteryCurrent;
    t.temperature = 27 + (onMains && !full ? 3 : 0) + 0.5 * std::sin(seconds / 30);
    t.inputVoltage = inputVoltage;
    t.inputCurrent = inputCurrent;
    t.output5Voltage = out5Voltage;
    t.output5Current = out5Current;
    t.output12Voltage = out12Voltage;
    t.output12Current = out12Current;
    t.load = std::llround(loadWatts / 60 * 100);
    t.status = 0x0040 | (onMains ? 0x0001 : 0x0004) | (onMains && !full ? 0x0002 : 0) | (full ? 0x0008 : 0) |
               (soc < 20 ? 0x0020 : 0);
    return t;
}

template <typename T>
std::optional<T> either(const std::optional<std::optional<T>>& override, std::optional<T> value) {
    return override ? *override : value;
}

} // namespace

EmulatedBoard::EmulatedBoard(BoardDescription description, std::size_t index, Clock clock)
    : description_(std::move(description))
    , index_(index)
    , clock_(std::move(clock))
    , start_(clock_())
    , mode_(description_.bootloader ? BoardMode::bootloader : BoardMode::app)
    , firmware_(firmwareFor(mode_))
    , config_(description_.config)
    , image_(description_.image) {}

std::unique_ptr<EmulatedFirmware> EmulatedBoard::firmwareFor(BoardMode mode) {
    switch (mode) {
    case BoardMode::bootloader:
        return std::make_unique<EmulatedBootloader>();
    case BoardMode::app:
        break;
    }
    return std::make_unique<EmulatedApp>();
}

void EmulatedBoard::leaveWhenDue() {
    const auto& faults = description_.faults;
    if (leaveDone_ || !faults.leaveAfterMilliseconds || mode_ != BoardMode::app || backAt_) {
        return;
    }
    const auto leaveAt = start_ + std::chrono::milliseconds(*faults.leaveAfterMilliseconds);
    const auto returnAt = faults.returnAfterMilliseconds
                              ? leaveAt + std::chrono::milliseconds(*faults.returnAfterMilliseconds)
                              : std::chrono::steady_clock::time_point::max();
    const auto t = now();
    if (t < leaveAt) {
        return;
    }
    leaveDone_ = true;
    if (t < returnAt) {
        ++epoch_;
        backAt_ = returnAt;
    }
}

bool EmulatedBoard::attached() {
    leaveWhenDue();
    if (backAt_ && now() >= *backAt_) {
        backAt_.reset();
    }
    return !backAt_;
}

void EmulatedBoard::restartInto(BoardMode mode) {
    mode_ = mode;
    firmware_ = firmwareFor(mode);
    ++epoch_;
    backAt_ = now() + std::chrono::milliseconds(description_.restartMilliseconds);
    if (mode == BoardMode::bootloader) {
        packets_.clear();
    }
}

void EmulatedBoard::leaveBus() {
    ++epoch_;
    backAt_ = std::chrono::steady_clock::time_point::max();
}

std::size_t EmulatedBoard::recordPacket(ByteView packet) {
    packets_.emplace_back(packet.begin(), packet.end());
    return packets_.size();
}

std::vector<HIDInterface> EmulatedBoard::enumerate() {
    std::vector<HIDInterface> out;
    if (!attached()) {
        return out;
    }
    const auto& d = description_;
    const auto descriptions = firmware_->interfaces(d);
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        const auto& one = descriptions[i];
        HIDInterface interface;
        interface.path = "emulated:" + std::to_string(index_) + "." + std::to_string(epoch_) + "." + std::to_string(i);
        interface.vendorID = d.vendorID;
        interface.productID = either(one.productID, std::optional(d.productID.value_or(firmware_->productID())));
        interface.product = either(one.product, std::optional(d.product));
        interface.serial = either(one.serial, std::optional(d.serial));
        interface.location = either(one.location, d.location != 0 ? std::optional(d.location) : std::nullopt);
        interface.primaryUsagePage =
            either(one.usagePage,
                   std::optional(one.role == InterfaceRole::vendor ? Board::vendorUsagePage : Board::powerUsagePage));
        out.push_back(std::move(interface));
    }
    return out;
}

std::optional<InterfaceRole> EmulatedBoard::roleOf(const std::string& path) {
    const auto current = enumerate();
    const auto descriptions = firmware_->interfaces(description_);
    for (std::size_t i = 0; i < current.size() && i < descriptions.size(); ++i) {
        if (current[i].path == path) {
            return descriptions[i].role;
        }
    }
    return std::nullopt;
}

HIDResult EmulatedBoard::getReport(InterfaceRole on, ReportType type, std::uint8_t id, std::span<std::uint8_t> buffer) {
    const auto& faults = description_.faults;
    if (const auto failed = faults.getStatus.find(id); failed != faults.getStatus.end()) {
        return {failed->second, 0};
    }
    auto reply = replay(on, type, id).value_or(EmulatedFirmware::Reply{});
    if (reply.status == 0 && reply.report.empty()) {
        reply = firmware_->getReport(*this, on, type, id);
    }
    if (reply.status != 0) {
        return {reply.status, 0};
    }
    if (const auto other = faults.replyID.find(id); other != faults.replyID.end() && !reply.report.empty()) {
        reply.report[0] = other->second;
    }
    if (const auto length = faults.replyLength.find(id); length != faults.replyLength.end()) {
        reply.report.resize(length->second, 0);
    }
    std::copy_n(reply.report.begin(), std::min(reply.report.size(), buffer.size()), buffer.begin());
    return {0, reply.report.size()};
}

HIDStatus EmulatedBoard::setReport(InterfaceRole on, ReportType type, ByteView report) {
    const auto& faults = description_.faults;
    if (!report.empty()) {
        if (const auto failed = faults.setStatus.find(report[0]); failed != faults.setStatus.end()) {
            return failed->second;
        }
    }
    const auto status = firmware_->setReport(*this, on, type, report);
    if (status == 0 && type == ReportType::feature && !report.empty()) {
        written_.insert(report[0]);
    }
    return status;
}

std::optional<EmulatedFirmware::Reply> EmulatedBoard::replay(InterfaceRole on, ReportType type, std::uint8_t id) {
    const auto& recorded = description_.reports;
    // The recording is of the board as it was before it first restarted or left.
    if (recorded.empty() || epoch_ != 1 || (type == ReportType::feature && written_.contains(id))) {
        return std::nullopt;
    }
    const auto matches = [&](const RecordedReply& r) { return r.interface == on && r.type == type && r.id == id; };
    const auto count = static_cast<std::size_t>(std::count_if(recorded.begin(), recorded.end(), matches));
    if (count == 0) {
        return std::nullopt;
    }
    auto& given = replayed_[{on, type, id}];
    const auto wanted = std::min(given, count - 1);
    ++given;
    std::size_t seen = 0;
    for (const auto& r : recorded) {
        if (matches(r) && seen++ == wanted) {
            return EmulatedFirmware::Reply{r.status, r.bytes};
        }
    }
    return std::nullopt;
}

HIDResult EmulatedBoard::nextInputReport(InterfaceRole on, std::span<std::uint8_t> buffer) {
    const auto report = firmware_->nextInputReport(*this, on);
    if (!report) {
        return {0, 0};
    }
    std::copy_n(report->begin(), std::min(report->size(), buffer.size()), buffer.begin());
    return {0, report->size()};
}

std::optional<std::chrono::steady_clock::time_point> EmulatedBoard::nextInputDue(InterfaceRole on) const {
    return firmware_->nextInputDue(on);
}

Snapshot EmulatedBoard::telemetry() const {
    if (!description_.moving) {
        return description_.telemetry;
    }
    const double seconds = std::chrono::duration<double>(now() - start_).count();
    return movingTelemetry(seconds, config_.capacity);
}

} // namespace quelmar
