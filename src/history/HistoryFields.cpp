#include "history/HistoryFields.h"

#include <cmath>
#include <type_traits>
#include <variant>

namespace quelmar {

namespace {

using Member = std::variant<std::optional<std::int64_t> Snapshot::*, std::optional<double> Snapshot::*>;

struct Field {
    HistoryFieldInfo info;
    Member member;
};

const std::array<Field, historyFieldCount> fieldTable = {{
    {{"capacity", "capacity", 0}, &Snapshot::capacity},
    {{"runtime", "runtime", 0}, &Snapshot::runtime},
    {{"batteryVoltage", "battery_voltage", 2}, &Snapshot::batteryVoltage},
    {{"batteryCurrent", "battery_current", 2}, &Snapshot::batteryCurrent},
    {{"temperature", "temperature", 1}, &Snapshot::temperature},
    {{"inputVoltage", "input_voltage", 2}, &Snapshot::inputVoltage},
    {{"inputCurrent", "input_current", 2}, &Snapshot::inputCurrent},
    {{"output5Voltage", "output5_voltage", 2}, &Snapshot::output5Voltage},
    {{"output5Current", "output5_current", 2}, &Snapshot::output5Current},
    {{"output12Voltage", "output12_voltage", 2}, &Snapshot::output12Voltage},
    {{"output12Current", "output12_current", 2}, &Snapshot::output12Current},
    {{"load", "load", 0}, &Snapshot::load},
}};

const Field& fieldOf(HistoryField field) {
    return fieldTable[static_cast<std::size_t>(field)];
}

double scaleOf(HistoryField field) {
    const int decimals = infoOf(field).decimals;
    return decimals == 0 ? 1.0 : decimals == 1 ? 10.0 : 100.0;
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
    return fieldOf(field).info;
}

std::optional<double> valueOf(const Snapshot& snapshot, HistoryField field) {
    return std::visit(
        [&](auto member) -> std::optional<double> {
            const auto& value = snapshot.*member;
            return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
        },
        fieldOf(field).member);
}

void setValue(Snapshot& snapshot, HistoryField field, double value) {
    std::visit(
        [&](auto member) {
            auto& target = snapshot.*member;
            using T = typename std::remove_reference_t<decltype(target)>::value_type;
            if constexpr (std::is_integral_v<T>) {
                target = static_cast<T>(std::llround(value));
            } else {
                target = value;
            }
        },
        fieldOf(field).member);
}

std::int64_t toStored(HistoryField field, double value) {
    return static_cast<std::int64_t>(std::llround(value * scaleOf(field)));
}

double fromStored(HistoryField field, std::int64_t stored) {
    return static_cast<double>(stored) / scaleOf(field);
}

} // namespace quelmar
