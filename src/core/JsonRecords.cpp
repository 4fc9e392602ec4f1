#include "core/JsonRecords.h"

namespace quelmar::JsonRecords {

namespace {

using nlohmann::json;

// The names of status bits 0 to 8.
constexpr const char* flagNames[] = {"mains",          "charging",       "discharging",
                                     "full",           "replaceBattery", "batteryLow",
                                     "batteryPresent", "overload",       "shutdownImminent"};

template <typename T>
void put(json& out, const char* name, const std::optional<T>& value) {
    if (value) {
        out[name] = *value;
    }
}

} // namespace

json snapshot(const Snapshot& s) {
    json out = json::object();
    put(out, "capacity", s.capacity);
    put(out, "runtime", s.runtime);
    put(out, "batteryVoltage", s.batteryVoltage);
    put(out, "batteryCurrent", s.batteryCurrent);
    put(out, "temperature", s.temperature);
    put(out, "inputVoltage", s.inputVoltage);
    put(out, "inputCurrent", s.inputCurrent);
    put(out, "output5Voltage", s.output5Voltage);
    put(out, "output5Current", s.output5Current);
    put(out, "output12Voltage", s.output12Voltage);
    put(out, "output12Current", s.output12Current);
    put(out, "load", s.load);
    out["status"] = s.status;
    json flags = json::array();
    for (std::size_t bit = 0; bit < std::size(flagNames); ++bit) {
        if (s.status & (std::int64_t{1} << bit)) {
            flags.push_back(flagNames[bit]);
        }
    }
    out["flags"] = std::move(flags);
    return out;
}

json sample(std::int64_t index, const Snapshot& s) {
    json out = {{"type", "sample"}, {"sample", index}};
    out.update(snapshot(s));
    return out;
}

json event(PowerEvent e, const std::optional<std::string>& detail) {
    json out = {{"type", "event"}, {"event", eventName(e)}};
    if (detail) {
        out["detail"] = *detail;
    }
    return out;
}

json board(const std::string& product, const std::string& serial, bool bootloader, const std::string& id) {
    return {{"type", "board"}, {"product", product}, {"serial", serial}, {"bootloader", bootloader}, {"id", id}};
}

json identity(const DeviceInfo& info) {
    return {{"type", "identity"}, {"hardware", info.hardware}, {"software", info.software}};
}

json config(const BatteryConfig& c) {
    return {{"type", "config"},
            {"capacity", c.capacity()},
            {"resistanceMicroOhms", c.resistanceMicroOhms()},
            {"nominal", c.nominal()}};
}

json message(const std::string& kind, const std::string& text) {
    return {{"type", kind}, {"message", text}};
}

std::string line(const json& record) {
    return record.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace quelmar::JsonRecords
