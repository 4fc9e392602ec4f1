#include "history/HistoryCSV.h"

#include "core/UTCTime.h"
#include "history/HistoryFields.h"

#include <cstdio>

namespace quelmar {

namespace {

// From the stored integer, so that every value prints at its resolution and -0.00 never appears.
void appendValue(std::string& out, HistoryField field, double value) {
    const auto stored = toStored(field, value);
    const int decimals = infoOf(field).decimals;
    if (decimals == 0) {
        out += std::to_string(stored);
        return;
    }
    const std::int64_t scale = decimals == 1 ? 10 : 100;
    const auto magnitude = static_cast<std::uint64_t>(stored < 0 ? -stored : stored);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%0*llu", stored < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / scale), decimals,
                  static_cast<unsigned long long>(magnitude % scale));
    out += text;
}

} // namespace

std::string historyCSV(std::span<const HistorySample> samples) {
    std::string out = "time";
    for (const auto field : historyFields()) {
        out += ',';
        out += infoOf(field).name;
    }
    out += ",status\r\n";
    for (const auto& sample : samples) {
        out += utcText(sample.time);
        for (const auto field : historyFields()) {
            out += ',';
            if (const auto value = valueOf(sample.snapshot, field)) {
                appendValue(out, field, *value);
            }
        }
        out += ',';
        out += std::to_string(sample.snapshot.status);
        out += "\r\n";
    }
    return out;
}

} // namespace quelmar
