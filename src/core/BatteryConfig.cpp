#include "core/BatteryConfig.h"

#include "core/Report.h"
#include "core/UPSError.h"

namespace quelmar {

BatteryConfig::BatteryConfig(std::int64_t capacity, std::int64_t resistanceMicroOhms, std::int64_t nominal)
    : capacity_(capacity)
    , resistanceMicroOhms_(resistanceMicroOhms)
    , nominal_(nominal) {
    validate();
}

BatteryConfig::BatteryConfig(ByteView bytes) {
    const Report report(bytes, Reports::config);
    capacity_ = report.u16(1);
    resistanceMicroOhms_ = report.u32(3);
    nominal_ = report.u8(7);
    validate();
}

void BatteryConfig::validate() const {
    const bool ok = capacity_ >= minCapacity && capacity_ <= maxCapacity && resistanceMicroOhms_ >= minResistance &&
                    resistanceMicroOhms_ <= maxResistance && nominal_ >= 0 && nominal_ <= maxNominal;
    if (!ok) {
        throw UPSError("电池参数超出允许范围：容量 500–20000 mAh，内阻 1–1000 mΩ");
    }
}

Bytes BatteryConfig::report() const {
    return report(capacity_, resistanceMicroOhms_, nominal_);
}

Bytes BatteryConfig::report(std::int64_t capacity, std::int64_t resistanceMicroOhms, std::int64_t nominal) {
    Bytes out = Reports::config.blank();
    putLittleEndian(out, 1, 2, static_cast<std::uint64_t>(capacity));
    putLittleEndian(out, 3, 4, static_cast<std::uint64_t>(resistanceMicroOhms));
    out[7] = static_cast<std::uint8_t>(nominal);
    return out;
}

} // namespace quelmar
