#include "core/DeviceInfo.h"

#include "core/Report.h"
#include "core/UPSError.h"
#include "core/Version.h"

namespace quelmar {

DeviceInfo::DeviceInfo(ByteView bytes) {
    const Report report(bytes, Reports::identity);
    const auto number = [&](std::size_t offset) { return std::to_string(report.u8(offset)); };
    hardware = number(1) + "." + number(2);
    software = number(3) + "." + number(4) + "." + number(5);
}

bool DeviceInfo::supportsFullReport() const {
    static const Version firstFull("1.0.8");
    try {
        return Version(software) >= firstFull;
    } catch (const UPSError&) {
        return false;
    }
}

} // namespace quelmar
