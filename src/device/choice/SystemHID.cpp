#include "device/choice/SystemHID.h"

#include "device/HidapiPlatform.h"
#include "device/emulator/EmulatedPlatform.h"

#include <cstdlib>
#include <memory>
#include <string_view>

namespace quelmar {

namespace {

std::unique_ptr<HIDPlatform> fromEnvironment() {
    const char* const setting = std::getenv("QUELMAR_SIMULATOR");
    if (setting == nullptr || std::string_view(setting).empty() || std::string_view(setting) == "0") {
        return std::make_unique<HidapiPlatform>();
    }
    return EmulatedPlatform::fromSetting(setting);
}

} // namespace

HIDPlatform& systemHID() {
    static const std::unique_ptr<HIDPlatform> platform = fromEnvironment();
    return *platform;
}

} // namespace quelmar
