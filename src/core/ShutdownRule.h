#pragma once

#include "core/Snapshot.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quelmar {

// When the low-battery action runs: the battery's charge below a percentage and/or its runtime below a number of
// seconds. Either may be left out; the board's own "shutdown imminent" counts in any case.
struct ShutdownThresholds {
    std::optional<std::int64_t> belowPercent;
    std::optional<std::int64_t> runtimeSeconds;
};

// Decides, sample by sample, the one moment the low-battery action runs. Only a board off mains can trigger it:
// a threshold must hold for samplesNeeded samples in a row (one bogus reading is not enough), or the board signals
// shutdown imminent. It fires at most once; a lost board is not a reason and starts the count over.
class ShutdownRule {
public:
    static constexpr int samplesNeeded = 3;

    explicit ShutdownRule(ShutdownThresholds thresholds)
        : thresholds_(thresholds) {}

    // Why the action runs now, for the log; absent on every other sample.
    std::optional<std::string> sample(const Snapshot& snapshot);
    void lost() { run_ = 0; }
    bool fired() const { return fired_; }

private:
    // What holds of this sample, when a threshold does.
    std::optional<std::string> belowThreshold(const Snapshot& snapshot) const;

    ShutdownThresholds thresholds_;
    int run_ = 0; // consecutive samples off mains with a threshold holding
    bool fired_ = false;
};

} // namespace quelmar
