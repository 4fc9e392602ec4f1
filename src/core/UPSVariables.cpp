#include "core/UPSVariables.h"

#include "core/StatusBits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

namespace quelmar {

namespace {

struct Described {
    std::string_view name;
    std::string_view description;
};

// Every variable the endpoint can serve, sorted by name.
constexpr std::array described{
    Described{"battery.charge", "Battery charge (percent of full)"},
    Described{"battery.current", "Battery current (A), negative while discharging"},
    Described{"battery.runtime", "Battery runtime (seconds)"},
    Described{"battery.voltage", "Battery voltage (V)"},
    Described{"device.mfr", "Device manufacturer"},
    Described{"device.model", "Device model"},
    Described{"device.serial", "Device serial number"},
    Described{"device.type", "Device type"},
    Described{"driver.name", "Driver name"},
    Described{"driver.version", "Driver version"},
    Described{"input.current", "Input current (A)"},
    Described{"input.voltage", "Input voltage (V)"},
    Described{"output.voltage", "Output voltage of the 12 V rail (V)"},
    Described{"ups.firmware", "UPS firmware"},
    Described{"ups.load", "Load on UPS (percent of full)"},
    Described{"ups.status", "UPS status"},
    Described{"ups.temperature", "UPS temperature (degrees C)"},
};

} // namespace

std::string decimal(double value, int decimals) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string out(text, ec == std::errc() ? end : text);
    if (out.starts_with('-') && out.find_first_not_of("-0.") == std::string::npos) {
        out.erase(0, 1);
    }
    return out;
}

std::string upsStatus(std::int64_t status, bool forcedShutdown) {
    std::string out = forcedShutdown ? "FSD " : "";
    out += (status & StatusBit::mains) ? "OL" : "OB";
    const std::pair<std::int64_t, const char*> words[] = {
        {StatusBit::charging, " CHRG"},
        {StatusBit::discharging, " DISCHRG"},
        {StatusBit::batteryLow | StatusBit::shutdownImminent, " LB"},
        {StatusBit::replaceBattery, " RB"},
        {StatusBit::overload, " OVER"},
    };
    for (const auto& [bits, word] : words) {
        if (status & bits) {
            out += word;
        }
    }
    return out;
}

UPSState UPSState::of(const UPSIdentity& identity, const Snapshot& s, bool forcedShutdown,
                      std::string_view driverVersion) {
    UPSState state;
    state.stale = false;
    auto& v = state.variables;
    const auto text = [&](std::string name, std::string value) {
        v.push_back({std::move(name), std::move(value), false});
    };
    const auto number = [&](std::string name, std::string value) { v.push_back({std::move(name), std::move(value)}); };
    const auto integer = [&](const char* name, const std::optional<std::int64_t>& value) {
        if (value) {
            number(name, std::to_string(*value));
        }
    };
    const auto real = [&](const char* name, const std::optional<double>& value, int decimals) {
        if (value) {
            number(name, decimal(*value, decimals));
        }
    };
    integer("battery.charge", s.capacity);
    real("battery.current", s.batteryCurrent, 2);
    integer("battery.runtime", s.runtime);
    real("battery.voltage", s.batteryVoltage, 2);
    text("device.mfr", "Quelmar");
    text("device.model", identity.product);
    text("device.serial", identity.serial);
    text("device.type", "ups");
    text("driver.name", "quelmar");
    text("driver.version", std::string(driverVersion));
    real("input.current", s.inputCurrent, 2);
    real("input.voltage", s.inputVoltage, 2);
    real("output.voltage", s.output12Voltage, 2);
    if (identity.info) {
        text("ups.firmware", identity.info->software);
    }
    integer("ups.load", s.load);
    text("ups.status", upsStatus(s.status, forcedShutdown));
    real("ups.temperature", s.temperature, 1);
    return state;
}

const UPSVariable* UPSState::find(std::string_view name) const {
    const auto it = std::lower_bound(variables.begin(), variables.end(), name,
                                     [](const UPSVariable& v, std::string_view n) { return v.name < n; });
    return it != variables.end() && it->name == name ? &*it : nullptr;
}

std::string_view upsVariableDescription(std::string_view name) {
    const auto it = std::lower_bound(described.begin(), described.end(), name,
                                     [](const Described& d, std::string_view n) { return d.name < n; });
    return it != described.end() && it->name == name ? it->description : "Unavailable";
}

} // namespace quelmar
