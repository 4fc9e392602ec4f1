#pragma once

#include "core/BatteryConfig.h"
#include "core/DeviceInfo.h"

#include <optional>
#include <string>

namespace quelmar {

// One selectable board as the window shows it; identified by id.
struct DeviceChoice {
    std::string id;
    std::string product;
    std::string serial;
    bool bootloader = false;

    bool operator==(const DeviceChoice&) const = default;
};

// What connecting to a board found out.
struct Connection {
    DeviceChoice device;
    std::optional<DeviceInfo> info;
    std::optional<BatteryConfig> config; // absent in bootloader mode, or when it could not be read or was out of range
};

} // namespace quelmar
