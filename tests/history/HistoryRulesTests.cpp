#include "history/Downsampler.h"
#include "history/HistoryCSV.h"
#include "history/Outage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace std::chrono_literals;
using std::chrono::seconds;

namespace {

const HistoryTime t0 = std::chrono::sys_days{2025y / 3 / 1} + 12h;
constexpr std::int64_t onMains = 0b1000011; // mains, charging, battery present
constexpr std::int64_t onBattery = 0b1000100;

HistoryEvent event(std::int64_t at, HistoryEventKind kind) {
    return {t0 + seconds(at), kind, ""};
}

Outage outage(std::int64_t start, std::optional<std::int64_t> end, bool restored, std::int64_t length) {
    Outage out;
    out.start = t0 + seconds(start);
    if (end) {
        out.end = t0 + seconds(*end);
    }
    out.restored = restored;
    out.length = seconds(length);
    return out;
}

} // namespace

TEST(Outages, FromEventSequences) {
    using K = HistoryEventKind;
    const auto now = t0 + 1000s;
    struct Case {
        const char* name;
        std::vector<HistoryEvent> events;
        std::vector<Outage> expected;
    };
    const std::vector<Case> cases = {
        {"lost then restored", {event(10, K::mainsLost), event(100, K::mainsRestored)}, {outage(10, 100, true, 90)}},
        {"still out is measured to now", {event(400, K::mainsLost)}, {outage(400, {}, false, 600)}},
        {"other events do not end it",
         {event(10, K::mainsLost), event(20, K::batteryLowRaised), event(30, K::shutdownImminentRaised),
          event(40, K::mainsRestored)},
         {outage(10, 40, true, 30)}},
        {"the board going away ends what is known",
         {event(10, K::mainsLost), event(50, K::boardLost)},
         {outage(10, 50, false, 40)}},
        {"a restart in between ends it",
         {event(10, K::mainsLost), event(70, K::boardConnected)},
         {outage(10, 70, false, 60)}},
        {"a missed return",
         {event(10, K::mainsLost), event(20, K::mainsLost), event(25, K::mainsRestored)},
         {outage(10, 20, false, 10), outage(20, 25, true, 5)}},
        {"a return without a loss", {event(10, K::mainsRestored), event(20, K::boardConnected)}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outagesOf(c.events, now), c.expected) << c.name;
    }
}

// Every outage, however short, must still show in the bucket that holds it: mains bit cleared for the bucket,
// the input voltage's and the charge's lows kept.
struct DownsampleCase {
    const char* name;
    seconds span;
    seconds step; // between input points: raw samples or minutes
    std::vector<std::pair<seconds, seconds>> outages;
};

class Downsampling : public testing::TestWithParam<DownsampleCase> {};

TEST_P(Downsampling, KeepsEveryOutageVisible) {
    const auto& c = GetParam();
    const auto width = Downsampler::widthFor(c.span, 4000, c.step);
    Downsampler downsampler(width);
    const auto inOutage = [&](seconds at) {
        for (const auto& [start, length] : c.outages) {
            if (at >= start && at < start + length) {
                return true;
            }
        }
        return false;
    };
    for (seconds at{0}; at < c.span; at += c.step) {
        Snapshot s;
        const bool out = inOutage(at);
        s.inputVoltage = out ? 0.0 : 12.0;
        s.capacity = out ? 20 : 90;
        s.status = out ? onBattery : onMains;
        downsampler.add(HistoryPoint::of({t0 + at, s}));
    }
    const auto points = downsampler.takePoints();
    EXPECT_LE(points.size(), 4000u);
    std::size_t showing = 0;
    for (const auto& point : points) {
        const bool out = (point.statusAll & 1) == 0;
        showing += out;
        EXPECT_EQ(point[HistoryField::inputVoltage].min, out ? 0.0 : 12.0);
        EXPECT_EQ(point[HistoryField::capacity].min, out ? 20.0 : 90.0);
        EXPECT_EQ(point[HistoryField::capacity].max, 90.0) << "no bucket is all outage here";
    }
    for (const auto& [start, length] : c.outages) {
        const auto holding = std::find_if(points.begin(), points.end(), [&](const HistoryPoint& p) {
            return p.time <= t0 + start && t0 + start < p.time + width;
        });
        ASSERT_NE(holding, points.end()) << c.name;
        EXPECT_EQ(holding->statusAll & 1, 0) << c.name << " at " << start.count();
    }
    EXPECT_LE(showing, 2 * c.outages.size());
}

INSTANTIATE_TEST_SUITE_P(
    Spans, Downsampling,
    testing::Values(DownsampleCase{"a day of samples", 24h, 1s, {{5s, 1s}, {4321s, 1s}, {50000s, 3s}, {86399s, 1s}}},
                    DownsampleCase{"thirty days of minutes", 24h * 30, 60s, {{600s, 60s}, {1'000'020s, 60s}}}),
    [](const auto& param) { return std::string(param.param.step == 1s ? "Samples" : "Minutes"); });

TEST(HistoryCSV, ExactBytes) {
    Snapshot full;
    full.capacity = 57;
    full.runtime = 3600;
    full.batteryVoltage = 13.52;
    full.batteryCurrent = -1.5;
    full.temperature = 25.0;
    full.inputVoltage = 12.0;
    full.inputCurrent = 1.25;
    full.output5Voltage = 5.0;
    full.output5Current = -0.01;
    full.output12Voltage = 12.0;
    full.output12Current = 1.0;
    full.load = 42;
    full.status = 0x45;
    Snapshot legacy;
    legacy.capacity = 100;
    legacy.runtime = 0;
    legacy.batteryVoltage = 8.0;
    legacy.batteryCurrent = 0.0;
    legacy.temperature = -3.5;
    legacy.inputVoltage = 0.0;
    legacy.load = 0;
    const std::vector<HistorySample> samples = {{t0, full}, {t0 + 86400s + 3661s, legacy}};
    EXPECT_EQ(historyCSV(samples),
              "time,capacity,runtime,batteryVoltage,batteryCurrent,temperature,inputVoltage,inputCurrent,"
              "output5Voltage,output5Current,output12Voltage,output12Current,load,status\r\n"
              "2025-03-01T12:00:00Z,57,3600,13.52,-1.50,25.0,12.00,1.25,5.00,-0.01,12.00,1.00,42,69\r\n"
              "2025-03-02T13:01:01Z,100,0,8.00,0.00,-3.5,0.00,,,,,,0,0\r\n");
}
