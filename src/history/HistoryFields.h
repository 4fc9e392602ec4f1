#pragma once

#include "core/Snapshot.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quelmar {

// The measured fields of a Snapshot that the history keeps, in the Snapshot's order (status is kept apart: it is a
// bit set, not a measurement).
enum class HistoryField : std::size_t {
    capacity,
    runtime,
    batteryVoltage,
    batteryCurrent,
    temperature,
    inputVoltage,
    inputCurrent,
    output5Voltage,
    output5Current,
    output12Voltage,
    output12Current,
    load,
};
inline constexpr std::size_t historyFieldCount = 12;

struct HistoryFieldInfo {
    std::string_view name;   // the Snapshot member: the CSV header
    std::string_view column; // in the database
    int decimals;            // the board's resolution; stored as whole multiples of it
};

const std::array<HistoryField, historyFieldCount>& historyFields();
const HistoryFieldInfo& infoOf(HistoryField field);

std::optional<double> valueOf(const Snapshot& snapshot, HistoryField field);
void setValue(Snapshot& snapshot, HistoryField field, double value);

// Values at the board's resolution as integers (13.52 V is 1352), which keeps a year of minutes small.
std::int64_t toStored(HistoryField field, double value);
double fromStored(HistoryField field, std::int64_t stored);

} // namespace quelmar
