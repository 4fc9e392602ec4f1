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
    const Report report(bytes, ReportID::config, 8);
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
    Bytes out{ReportID::config};
    const auto append = [&](const Bytes& field) { out.insert(out.end(), field.begin(), field.end()); };
    append(littleEndian(static_cast<std::uint32_t>(capacity_), 2));
    append(littleEndian(static_cast<std::uint32_t>(resistanceMicroOhms_), 4));
    out.push_back(static_cast<std::uint8_t>(nominal_));
    return out;
}

} // namespace quelmar
