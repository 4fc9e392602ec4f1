#pragma once

#include "history/Downsampler.h"
#include "history/HistoryStore.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

// A year of one board's history as the recorder leaves it, for the benchmarks of the store and of the chart.
namespace quelmar::bench {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline const HistoryTime now = std::chrono::sys_days{2025y / 3 / 1} + 12h;
inline const HistoryBoard board{"location:1048832", "QM-0042"};
constexpr std::int64_t day = 86400;
constexpr std::int64_t outageStart = 3 * 3600; // 03:00 every day, for twenty minutes
constexpr std::int64_t outageLength = 1200;

inline bool inOutage(std::int64_t t) {
    const auto second = (t % day + day) % day;
    return second >= outageStart && second < outageStart + outageLength;
}

// Every reading moves each second, as the emulated board's do, so that no minute's minimum, mean and maximum
// coincide; the mains fail once a day.
inline Snapshot telemetry(std::int64_t t) {
    // Small arguments keep sin() quick.
    const double x = static_cast<double>(t % (1 << 20));
    const bool mains = !inOutage(t);
    const auto second = (t % day + day) % day;
    const double soc = mains ? std::min(100.0, 60 + 40 * std::fmod(x, 3600) / 3600)
                             : 100 - 50 * static_cast<double>(second - outageStart) / outageLength;
    Snapshot s;
    s.capacity = std::llround(soc);
    s.runtime = std::llround(soc * 60);
    s.batteryVoltage = 10.8 + 1.8 * soc / 100;
    s.batteryCurrent = mains ? 0.6 + 0.1 * std::sin(x / 13) : -1.1 - 0.1 * std::sin(x / 13);
    s.temperature = 27 + 0.5 * std::sin(x / 30);
    s.inputVoltage = mains ? 12.05 + 0.03 * std::sin(x / 2) : 0.0;
    s.inputCurrent = mains ? 1.2 + 0.1 * std::sin(x / 7) : 0.0;
    s.output5Voltage = 5.02 + 0.02 * std::sin(x / 3);
    s.output5Current = 0.8 + 0.1 * std::sin(x / 7);
    s.output12Voltage = 12.01 + 0.03 * std::sin(x / 5);
    s.output12Current = 0.45 + 0.05 * std::sin(x / 11);
    s.load = std::llround(15 + 2 * std::sin(x / 17));
    s.status = 0x40 | (mains ? 0x03 : 0x04);
    return s;
}

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "quelmar-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
};

// A year of one board as the recorder leaves it: minutes summarised by the store's own fold (the bulk path, fed
// every second of the year), the last 48 hours as samples written and then summarised by the store's upkeep, and
// the outages' events.
struct Year {
    Folder folder;
    fs::path file = folder.path / "history.sqlite";
    double buildSeconds = 0;
    std::uintmax_t bytes = 0;

    Year() {
        const auto started = std::chrono::steady_clock::now();
        const auto end = now.time_since_epoch().count();
        const auto start = end - 365 * day;
        const auto kept = end - 48 * 3600;
        {
            HistoryStore store(file);
            std::vector<HistoryEntry> entries;
            for (auto dayStart = start; dayStart < kept; dayStart += day) {
                Downsampler minutes{60s};
                for (auto t = dayStart; t < std::min(dayStart + day, kept); ++t) {
                    minutes.add(HistoryPoint::of({HistoryTime(std::chrono::seconds(t)), telemetry(t)}));
                }
                store.writeMinutes(board, minutes.takePoints());
            }
            for (auto t = start; t <= end; t += day) {
                const auto lost = t - (t % day + day) % day + outageStart;
                entries.push_back({board, HistoryEvent{HistoryTime(std::chrono::seconds(lost)),
                                                       HistoryEventKind::mainsLost, "市电断开"}});
                entries.push_back({board, HistoryEvent{HistoryTime(std::chrono::seconds(lost + outageLength)),
                                                       HistoryEventKind::mainsRestored, "市电恢复"}});
            }
            store.write(entries);
            entries.clear();
            for (auto t = kept; t <= end; ++t) {
                entries.push_back({board, HistorySample{HistoryTime(std::chrono::seconds(t)), telemetry(t)}});
                if (entries.size() == 3600) {
                    store.write(entries);
                    entries.clear();
                }
            }
            store.write(entries);
            while (store.maintain(now)) {
            }
        }
        buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        for (const auto& entry : fs::directory_iterator(folder.path)) {
            bytes += entry.file_size();
        }
    }
};

inline const Year& year() {
    static const Year built;
    return built;
}

} // namespace quelmar::bench
