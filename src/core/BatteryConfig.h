#pragma once

#include "core/Bytes.h"

#include <cstdint>

namespace quelmar {

// Validated battery parameters and their 8-byte report 7. Every value lies within the limits.
class BatteryConfig {
public:
    static constexpr std::int64_t minCapacity = 500, maxCapacity = 20000;        // mAh
    static constexpr std::int64_t minResistance = 1000, maxResistance = 1000000; // µΩ
    static constexpr std::int64_t maxNominal = 2;                                // 0 = 3.6 V, 1 = 3.65 V, 2 = 3.7 V

    // Throws UPSError with the range message when any value is outside its range; nothing is clamped.
    BatteryConfig(std::int64_t capacity, std::int64_t resistanceMicroOhms, std::int64_t nominal);
    // Decodes report 7 as read from the board; the report check runs before the range check.
    explicit BatteryConfig(ByteView report);

    std::int64_t capacity() const { return capacity_; }
    std::int64_t resistanceMicroOhms() const { return resistanceMicroOhms_; }
    std::int64_t nominal() const { return nominal_; }
    double resistanceMilliOhms() const { return static_cast<double>(resistanceMicroOhms_) / 1000.0; }

    Bytes report() const;
    // Report 7 of any values, each cut to the width of its field, as a board that stores without checking
    // answers it.
    static Bytes report(std::int64_t capacity, std::int64_t resistanceMicroOhms, std::int64_t nominal);

    bool operator==(const BatteryConfig&) const = default;

private:
    void validate() const;

    std::int64_t capacity_ = 0;
    std::int64_t resistanceMicroOhms_ = 0;
    std::int64_t nominal_ = 0;
};

} // namespace quelmar
