#include "history/HistoryCSV.h"

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

std::string isoTime(HistoryTime time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(time - day);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    return text;
}

std::string historyCSV(std::span<const HistorySample> samples) {
    std::string out = "time";
    for (const auto field : historyFields()) {
        out += ',';
        out += infoOf(field).name;
    }
    out += ",status\r\n";
    for (const auto& sample : samples) {
        out += isoTime(sample.time);
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
