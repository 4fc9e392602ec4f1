#pragma once

#include "device/HIDPlatform.h"

#include <mutex>
#include <optional>
#include <string>

namespace quelmar {

// Real boards through hidapi's hidraw backend. Locations come from sysfs.
class HidapiPlatform final : public HIDPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override;
    HIDOpenResult open(const HIDInterface& interface) override;
    // hidapi's own text of why initializing or the last enumeration failed.
    std::optional<std::string> problem() const override;

    // hidapi answers an enumeration with no list both when it finds nothing and when it fails; its error text
    // tells the two apart. Absent for nothing found (or no text), else the text.
    static std::optional<std::string> failureOf(const wchar_t* errorText);

private:
    mutable std::mutex mutex_;
    std::optional<std::string> problem_; // guarded by mutex_
};

} // namespace quelmar
