#include "device/HIDPlatform.h"

#include "device/HidapiPlatform.h"
#include "device/emulator/EmulatedPlatform.h"

#include <cstdlib>
#include <string>

namespace quelmar {

namespace {

std::unique_ptr<HIDPlatform> fromEnvironment() {
    const char* const setting = std::getenv("QUELMAR_SIMULATOR");
    if (setting == nullptr || std::string(setting).empty() || std::string(setting) == "0") {
        return std::make_unique<HidapiPlatform>();
    }
    return EmulatedPlatform::fromSetting(setting);
}

} // namespace

HIDPlatform& HIDPlatform::system() {
    static const std::unique_ptr<HIDPlatform> platform = fromEnvironment();
    return *platform;
}

} // namespace quelmar
