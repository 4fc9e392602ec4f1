#pragma once

#include "core/DeviceInfo.h"
#include "core/Snapshot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// One variable of the UPS network protocol, its value as served.
struct UPSVariable {
    std::string name;
    std::string value;
    bool number = true; // a numeric value; otherwise text

    bool operator==(const UPSVariable&) const = default;
};

// Who the board is, as far as the variables tell.
struct UPSIdentity {
    std::string product;
    std::string serial;
    std::optional<DeviceInfo> info;
};

// What the network endpoint serves about the board. Stale (no board, or a lost one) serves no variables.
struct UPSState {
    bool stale = true;
    std::vector<UPSVariable> variables; // sorted by name

    // The variables for the board's latest sample. forcedShutdown: the low-battery action has run for real.
    static UPSState of(const UPSIdentity& identity, const Snapshot& snapshot, bool forcedShutdown,
                       std::string_view driverVersion);

    const UPSVariable* find(std::string_view name) const;
    bool operator==(const UPSState&) const = default;
};

// The words of ups.status for a status word: OL or OB first, then CHRG, DISCHRG, LB, RB, OVER; FSD leads when
// forcedShutdown. Shutdown imminent reads LB as well, which is what makes monitoring clients act.
std::string upsStatus(std::int64_t status, bool forcedShutdown);

// A number with a dot and exactly this many decimals; a value that rounds to zero has no sign.
std::string decimal(double value, int decimals);

// A short explanation of a variable the endpoint serves; "Unavailable" for any other name.
std::string_view upsVariableDescription(std::string_view name);

} // namespace quelmar
