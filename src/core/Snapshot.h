#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelmar {

// One telemetry sample. A measurement the board did not report is absent, never zero.
struct Snapshot {
    std::optional<std::int64_t> capacity;  // %
    std::optional<std::int64_t> runtime;   // s
    std::optional<double> batteryVoltage;  // V
    std::optional<double> batteryCurrent;  // A, signed
    std::optional<double> temperature;     // °C
    std::optional<double> inputVoltage;    // V
    std::optional<double> inputCurrent;    // A, signed
    std::optional<double> output5Voltage;  // V
    std::optional<double> output5Current;  // A, signed
    std::optional<double> output12Voltage; // V
    std::optional<double> output12Current; // A, signed
    std::optional<std::int64_t> load;      // %
    std::int64_t status = 0;               // bit set, see statuses()

    // Decodes the full telemetry report 8 (at least 25 bytes); every field is present.
    static Snapshot full(ByteView report);
    // Decodes the legacy reports 1 to 4, validated in that order; outputs and input current stay absent.
    static Snapshot legacy(ByteView summary, ByteView input, ByteView output, ByteView battery);

    // Labels of the set status bits 0 to 8, in bit order.
    std::vector<std::string> statuses() const;
    // Battery voltage times current, signed like the current; absent when either is.
    std::optional<double> batteryPower() const;

    bool operator==(const Snapshot&) const = default;
};

// The labels of status bits 0 to 8.
const std::vector<std::string>& statusLabels();

} // namespace quelmar
