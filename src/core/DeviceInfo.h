#pragma once

#include "core/Bytes.h"

#include <string>
#include <utility>

namespace quelmar {

// Board identity from report 6.
struct DeviceInfo {
    std::string hardware; // "major.minor"
    std::string software; // "major.minor.patch"

    // Decodes the identity report; throws UPSError for a report that is not a valid report 6.
    explicit DeviceInfo(ByteView report);
    DeviceInfo(std::string hardwareVersion, std::string softwareVersion)
        : hardware(std::move(hardwareVersion))
        , software(std::move(softwareVersion)) {}

    // Whether the firmware answers the full telemetry report 8 (software 1.0.8 or later). Never throws.
    bool supportsFullReport() const;

    bool operator==(const DeviceInfo&) const = default;
};

} // namespace quelmar
