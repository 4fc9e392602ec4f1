#include "history/HistoryFields.h"

#include <cmath>

namespace quelmar {

namespace {

constexpr std::array<HistoryFieldInfo, historyFieldCount> infos = {{
    {"capacity", "capacity", 0},
    {"runtime", "runtime", 0},
    {"batteryVoltage", "battery_voltage", 2},
    {"batteryCurrent", "battery_current", 2},
    {"temperature", "temperature", 1},
    {"inputVoltage", "input_voltage", 2},
    {"inputCurrent", "input_current", 2},
    {"output5Voltage", "output5_voltage", 2},
    {"output5Current", "output5_current", 2},
    {"output12Voltage", "output12_voltage", 2},
    {"output12Current", "output12_current", 2},
    {"load", "load", 0},
}};

constexpr double scaleOf(int decimals) {
    return decimals == 0 ? 1.0 : decimals == 1 ? 10.0 : 100.0;
}

std::optional<double> asDouble(const std::optional<std::int64_t>& value) {
    if (!value) {
        return std::nullopt;
    }
    return static_cast<double>(*value);
}

} // namespace

const std::array<HistoryField, historyFieldCount>& historyFields() {
    static const std::array<HistoryField, historyFieldCount> fields = [] {
        std::array<HistoryField, historyFieldCount> out{};
        for (std::size_t i = 0; i < historyFieldCount; ++i) {
            out[i] = static_cast<HistoryField>(i);
        }
        return out;
    }();
    return fields;
}

const HistoryFieldInfo& infoOf(HistoryField field) {
    return infos[static_cast<std::size_t>(field)];
}

std::optional<double> valueOf(const Snapshot& s, HistoryField field) {
    switch (field) {
    case HistoryField::capacity:
        return asDouble(s.capacity);
    case HistoryField::runtime:
        return asDouble(s.runtime);
    case HistoryField::batteryVoltage:
        return s.batteryVoltage;
    case HistoryField::batteryCurrent:
        return s.batteryCurrent;
    case HistoryField::temperature:
        return s.temperature;
    case HistoryField::inputVoltage:
        return s.inputVoltage;
    case HistoryField::inputCurrent:
        return s.inputCurrent;
    case HistoryField::output5Voltage:
        return s.output5Voltage;
    case HistoryField::output5Current:
        return s.output5Current;
    case HistoryField::output12Voltage:
        return s.output12Voltage;
    case HistoryField::output12Current:
        return s.output12Current;
    case HistoryField::load:
        return asDouble(s.load);
    }
    return std::nullopt;
}

void setValue(Snapshot& s, HistoryField field, double value) {
    const auto whole = static_cast<std::int64_t>(std::llround(value));
    switch (field) {
    case HistoryField::capacity:
        s.capacity = whole;
        break;
    case HistoryField::runtime:
        s.runtime = whole;
        break;
    case HistoryField::batteryVoltage:
        s.batteryVoltage = value;
        break;
    case HistoryField::batteryCurrent:
        s.batteryCurrent = value;
        break;
    case HistoryField::temperature:
        s.temperature = value;
        break;
    case HistoryField::inputVoltage:
        s.inputVoltage = value;
        break;
    case HistoryField::inputCurrent:
        s.inputCurrent = value;
        break;
    case HistoryField::output5Voltage:
        s.output5Voltage = value;
        break;
    case HistoryField::output5Current:
        s.output5Current = value;
        break;
    case HistoryField::output12Voltage:
        s.output12Voltage = value;
        break;
    case HistoryField::output12Current:
        s.output12Current = value;
        break;
    case HistoryField::load:
        s.load = whole;
        break;
    }
}

std::int64_t toStored(HistoryField field, double value) {
    return static_cast<std::int64_t>(std::llround(value * scaleOf(infoOf(field).decimals)));
}

double fromStored(HistoryField field, std::int64_t stored) {
    return static_cast<double>(stored) / scaleOf(infoOf(field).decimals);
}

} // namespace quelmar
