#include "install/AppMetadata.h"

#include "BuildConfig.h"

namespace quelmar::AppMetadata {

const std::string& version() {
    static const std::string value = BuildConfig::version;
    return value;
}

} // namespace quelmar::AppMetadata
