#pragma once

#include "history/HistoryRecord.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quelmar {

// A stretch without mains, from the board's events.
struct Outage {
    HistoryTime start;
    std::optional<HistoryTime> end;           // none while it lasts
    bool restored = false;                    // ended by the mains returning, not by the board going out of sight
    std::chrono::seconds length{0};           // to its end, or to now while it lasts
    std::optional<std::int64_t> lowestCharge; // %, the lowest recorded during it

    bool operator==(const Outage&) const = default;
};

// The outages of one board's time-ordered events. Mains lost opens one; mains restored ends it. The board lost or
// connected again ends it too (nothing is known beyond that), as does another mains lost, which opens the next.
std::vector<Outage> outagesOf(std::span<const HistoryEvent> events, HistoryTime now);

} // namespace quelmar
