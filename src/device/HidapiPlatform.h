#pragma once

#include "device/HIDPlatform.h"

namespace quelmar {

// Real boards through hidapi's hidraw backend. Locations come from sysfs.
class HidapiPlatform final : public HIDPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override;
    HIDOpenResult open(const HIDInterface& interface) override;
};

} // namespace quelmar
