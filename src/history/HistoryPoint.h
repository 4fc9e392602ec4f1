#pragma once

#include "history/HistoryFields.h"
#include "history/HistoryRecord.h"

#include <array>
#include <cstdint>

namespace quelmar {

// The lowest, mean and highest value of one field over the samples that had it.
struct HistoryRange {
    double min = 0;
    double max = 0;
    double sum = 0;
    std::uint32_t count = 0; // samples with the field; none: absent

    bool present() const { return count > 0; }
    double mean() const { return sum / count; }
    void add(double value);
    void merge(const HistoryRange& other);

    bool operator==(const HistoryRange&) const = default;
};

// What a stretch of time holds, whether one sample, a stored minute or a chart's bucket.
struct HistoryPoint {
    HistoryTime time; // where the stretch begins
    std::uint32_t samples = 0;
    std::array<HistoryRange, historyFieldCount> fields{};
    std::int64_t statusAny = 0; // bits set in some sample
    std::int64_t statusAll = 0; // bits set in every sample

    static HistoryPoint of(const HistorySample& sample);

    const HistoryRange& operator[](HistoryField field) const { return fields[static_cast<std::size_t>(field)]; }
    HistoryRange& operator[](HistoryField field) { return fields[static_cast<std::size_t>(field)]; }

    // Folds in one more sample, or a whole other stretch, keeping this point's time.
    void add(const Snapshot& snapshot);
    void merge(const HistoryPoint& other);
    // The status bits of more samples (any: set in some, all: set in every one); their values go to the fields.
    void addStatus(std::int64_t any, std::int64_t all, std::uint32_t count);
    // Each field's mean, and the status bits held throughout.
    Snapshot means() const;

    bool operator==(const HistoryPoint&) const = default;
};

} // namespace quelmar
