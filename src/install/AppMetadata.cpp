#include "install/AppMetadata.h"

#include "BuildConfig.h"
#include "install/Bundle.h"
#include "install/PropertyList.h"

#include <exception>

namespace quelmar::AppMetadata {

namespace {

std::string bundleVersion() {
    try {
        if (const auto bundle = Bundle::mainBundle()) {
            if (const auto info = PropertyList::read(*bundle / Bundle::infoPlist)) {
                if (auto text = info->string("CFBundleShortVersionString")) {
                    return *text;
                }
            }
        }
    } catch (const std::exception&) {
        // Not in a bundle, or one without a readable Info.plist.
    }
    return BuildConfig::version;
}

} // namespace

const std::string& version() {
    static const std::string value = bundleVersion();
    return value;
}

} // namespace quelmar::AppMetadata
