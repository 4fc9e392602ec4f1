#include "core/ShutdownRule.h"

#include "core/StatusBits.h"

namespace quelmar {

std::optional<std::string> ShutdownRule::belowThreshold(const Snapshot& s) const {
    if (thresholds_.belowPercent && s.capacity && *s.capacity < *thresholds_.belowPercent) {
        return "battery charge " + std::to_string(*s.capacity) + " % below " +
               std::to_string(*thresholds_.belowPercent) + " %";
    }
    if (thresholds_.runtimeSeconds && s.runtime && *s.runtime < *thresholds_.runtimeSeconds) {
        return "runtime " + std::to_string(*s.runtime) + " s below " + std::to_string(*thresholds_.runtimeSeconds) +
               " s";
    }
    return std::nullopt;
}

std::optional<std::string> ShutdownRule::sample(const Snapshot& s) {
    if (fired_ || (s.status & StatusBit::mains)) {
        run_ = 0;
        return std::nullopt;
    }
    std::optional<std::string> reason;
    if (s.status & StatusBit::shutdownImminent) {
        reason = "the board signals shutdown imminent";
    } else if (const auto holds = belowThreshold(s)) {
        run_ += 1;
        if (run_ >= samplesNeeded) {
            reason = *holds + " for " + std::to_string(samplesNeeded) + " samples";
        }
    } else {
        run_ = 0;
    }
    fired_ = reason.has_value();
    return reason;
}

} // namespace quelmar
