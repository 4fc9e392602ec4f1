#pragma once

#include "history/HistoryPoint.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace quelmar {

// Folds time-ordered points into buckets of one width, aligned to the epoch so that a live chart's buckets stay put
// as its span moves on. A bucket keeps the lowest and highest value and every status bit seen in it, so an outage
// of one second still shows in a bucket of ten minutes.
class Downsampler {
public:
    explicit Downsampler(std::chrono::seconds width);

    // The narrowest multiple of resolution that covers span in at most maxPoints buckets, wherever it begins.
    static std::chrono::seconds widthFor(std::chrono::seconds span, std::size_t maxPoints,
                                         std::chrono::seconds resolution);

    std::chrono::seconds width() const { return width_; }
    void add(const HistoryPoint& point) { bucketAt(point.time).merge(point); }
    // The bucket holding this time, for folding values into it directly; times must not go back.
    HistoryPoint& bucketAt(HistoryTime time);
    std::vector<HistoryPoint> takePoints() { return std::move(points_); }

private:
    std::chrono::seconds width_;
    std::vector<HistoryPoint> points_;
    std::int64_t currentStart_ = 0; // of points_.back()
};

} // namespace quelmar
