#include "history/Downsampler.h"

#include <algorithm>

namespace quelmar {

namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

} // namespace

Downsampler::Downsampler(std::chrono::seconds width)
    : width_(std::max(width, std::chrono::seconds(1))) {}

std::chrono::seconds Downsampler::widthFor(std::chrono::seconds span, std::size_t maxPoints,
                                           std::chrono::seconds resolution) {
    // An unaligned span touches one bucket more than it fills.
    const auto buckets = static_cast<std::int64_t>(std::max<std::size_t>(maxPoints, 2) - 1);
    const std::int64_t step = std::max<std::int64_t>(resolution.count(), 1);
    const std::int64_t least = std::max<std::int64_t>((span.count() + buckets - 1) / buckets, 1);
    return std::chrono::seconds((least + step - 1) / step * step);
}

HistoryPoint& Downsampler::bucketAt(HistoryTime time) {
    const auto seconds = time.time_since_epoch().count();
    if (!points_.empty() && seconds >= currentStart_ && seconds < currentStart_ + width_.count()) {
        return points_.back();
    }
    currentStart_ = floorDiv(seconds, width_.count()) * width_.count();
    HistoryPoint bucket;
    bucket.time = HistoryTime(std::chrono::seconds(currentStart_));
    return points_.emplace_back(bucket);
}

} // namespace quelmar
