#include "history/HistoryPoint.h"

#include <algorithm>

namespace quelmar {

void HistoryRange::add(double value) {
    if (count == 0) {
        min = max = sum = value;
    } else {
        min = std::min(min, value);
        max = std::max(max, value);
        sum += value;
    }
    ++count;
}

void HistoryRange::merge(const HistoryRange& other) {
    if (!other.present()) {
        return;
    }
    if (!present()) {
        *this = other;
        return;
    }
    min = std::min(min, other.min);
    max = std::max(max, other.max);
    sum += other.sum;
    count += other.count;
}

HistoryPoint HistoryPoint::of(const HistorySample& sample) {
    HistoryPoint point;
    point.time = sample.time;
    point.add(sample.snapshot);
    return point;
}

void HistoryPoint::add(const Snapshot& snapshot) {
    for (const auto field : historyFields()) {
        if (const auto value = valueOf(snapshot, field)) {
            (*this)[field].add(*value);
        }
    }
    addStatus(snapshot.status, snapshot.status, 1);
}

void HistoryPoint::addStatus(std::int64_t any, std::int64_t all, std::uint32_t count) {
    if (count == 0) {
        return;
    }
    statusAll = samples == 0 ? all : (statusAll & all);
    statusAny |= any;
    samples += count;
}

void HistoryPoint::merge(const HistoryPoint& other) {
    addStatus(other.statusAny, other.statusAll, other.samples);
    for (std::size_t i = 0; i < historyFieldCount; ++i) {
        fields[i].merge(other.fields[i]);
    }
}

Snapshot HistoryPoint::means() const {
    Snapshot snapshot;
    for (const auto field : historyFields()) {
        if ((*this)[field].present()) {
            setValue(snapshot, field, (*this)[field].mean());
        }
    }
    snapshot.status = statusAll;
    return snapshot;
}

} // namespace quelmar
