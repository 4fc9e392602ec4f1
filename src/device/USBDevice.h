#pragma once

#include "device/HIDPlatform.h"

#include <optional>
#include <string>

namespace quelmar {

// One discovered board with the two HID interfaces the client talks to.
struct USBDevice {
    std::string id;      // "location:<n>" or "serial:<s>"; stable while the board stays on its port
    std::string product; // of the vendor interface; empty when absent
    std::string serial;  // of the vendor interface; empty when absent
    bool bootloader = false;
    HIDInterface vendor;               // identity, configuration, full telemetry and every write
    std::optional<HIDInterface> power; // the power-device interface; may be the vendor interface itself

    bool operator==(const USBDevice&) const = default;
};

} // namespace quelmar
