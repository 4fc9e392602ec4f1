#include "core/Snapshot.h"

#include "core/Report.h"

namespace quelmar {

namespace {

double scaled(std::int64_t raw, double divisor) {
    return static_cast<double>(raw) / divisor;
}

} // namespace

Snapshot Snapshot::full(ByteView bytes) {
    const Report report(bytes, Reports::telemetry);
    Snapshot s;
    s.capacity = report.u8(1);
    s.runtime = report.u16(2);
    s.batteryVoltage = scaled(report.u16(4), 100);
    s.batteryCurrent = scaled(report.i16(6), 100);
    s.temperature = scaled(report.u16(8), 10);
    s.inputVoltage = scaled(report.u16(10), 100);
    s.inputCurrent = scaled(report.i16(12), 100);
    s.output5Voltage = scaled(report.u16(14), 100);
    s.output5Current = scaled(report.i16(16), 100);
    s.output12Voltage = scaled(report.u16(18), 100);
    s.output12Current = scaled(report.i16(20), 100);
    s.load = report.u8(22);
    s.status = report.u16(23);
    return s;
}

Snapshot Snapshot::legacy(ByteView summaryBytes, ByteView inputBytes, ByteView outputBytes, ByteView batteryBytes) {
    const Report summary(summaryBytes, Reports::summary);
    const Report input(inputBytes, Reports::input);
    const Report output(outputBytes, Reports::output);
    const Report battery(batteryBytes, Reports::battery);

    Snapshot s;
    s.capacity = summary.u8(1);
    s.status = summary.u16(6);
    s.inputVoltage = scaled(input.u16(1), 100);
    s.load = output.u8(1);
    s.runtime = battery.u16(1);
    s.batteryVoltage = scaled(battery.u16(7), 100);
    s.batteryCurrent = scaled(battery.i16(9), 100);
    s.temperature = scaled(battery.u16(13), 10);
    return s;
}

const std::vector<std::string>& statusLabels() {
    static const std::vector<std::string> labels = {
        "市电供电", "充电中", "放电中", "已充满", "需更换电池", "电量低", "电池在位", "过载", "即将关机",
    };
    return labels;
}

std::vector<std::string> Snapshot::statuses() const {
    std::vector<std::string> out;
    const auto& labels = statusLabels();
    for (std::size_t bit = 0; bit < labels.size(); ++bit) {
        if (status & (std::int64_t{1} << bit)) {
            out.push_back(labels[bit]);
        }
    }
    return out;
}

std::optional<double> Snapshot::batteryPower() const {
    if (!batteryVoltage || !batteryCurrent) {
        return std::nullopt;
    }
    return *batteryVoltage * *batteryCurrent;
}

} // namespace quelmar
