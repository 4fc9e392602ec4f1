#pragma once

#include "core/BatteryConfig.h"
#include "core/DeviceInfo.h"
#include "core/PowerEvents.h"
#include "core/Snapshot.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// The JSON objects of the machine-readable output, one per line. Each names its kind in "type".
namespace quelmar::JsonRecords {

// The Snapshot's fields under their own names (absent ones left out), the status word as a number and its set bits
// as English flags ("mains", "charging", …, "shutdownImminent").
nlohmann::json snapshot(const Snapshot& snapshot);
// {"type": "sample", "sample": index, …snapshot}
nlohmann::json sample(std::int64_t index, const Snapshot& snapshot);
// {"type": "event", "event": "mains-lost"}, with "detail" when given.
nlohmann::json event(PowerEvent event, const std::optional<std::string>& detail = std::nullopt);
// {"type": "board", "product", "serial", "bootloader", "id"}
nlohmann::json board(const std::string& product, const std::string& serial, bool bootloader, const std::string& id);
// {"type": "identity", "hardware", "software"}
nlohmann::json identity(const DeviceInfo& info);
// {"type": "config", "capacity", "resistanceMicroOhms", "nominal"}
nlohmann::json config(const BatteryConfig& config);
// {"type": kind, "message": message}: "error", or "problem" for a broken HID stack.
nlohmann::json message(const std::string& kind, const std::string& message);

// One compact line without its line feed. Text that is not UTF-8 (a board's strings) is repaired, never refused.
std::string line(const nlohmann::json& record);

} // namespace quelmar::JsonRecords
