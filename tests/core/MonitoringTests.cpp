#include "core/JsonRecords.h"
#include "core/PowerEvents.h"
#include "core/ShutdownRule.h"
#include "core/StatusBits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::ElementsAre;

namespace {

// A scripted sequence: samples, and the board connecting (C) or being lost (L), marked by impossible statuses.
using Step = Snapshot;
constexpr std::int64_t OL = StatusBit::mains | StatusBit::batteryPresent;
constexpr std::int64_t OB = StatusBit::discharging | StatusBit::batteryPresent;
Step S(std::int64_t status, std::optional<std::int64_t> capacity = 80, std::optional<std::int64_t> runtime = 3600) {
    Step s;
    s.status = status;
    s.capacity = capacity;
    s.runtime = runtime;
    return s;
}
const Step C = S(-1), L = S(-2);

// The events of each step, joined by spaces.
std::vector<std::string> eventsOf(const std::vector<Step>& steps) {
    PowerEvents events;
    std::vector<std::string> out;
    for (const auto& step : steps) {
        const auto raised = step == C ? events.connected() : step == L ? events.lost() : events.sample(step);
        std::string text;
        for (const auto e : raised) {
            text += (text.empty() ? "" : " ") + std::string(eventName(e));
        }
        out.push_back(text);
    }
    return out;
}

// The step at which the rule fires (from 0), or -1; it must never fire twice.
int firesAt(const ShutdownThresholds& thresholds, const std::vector<Step>& steps) {
    ShutdownRule rule(thresholds);
    int at = -1;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] == L) {
            rule.lost();
        } else if (steps[i] != C && rule.sample(steps[i])) {
            EXPECT_EQ(at, -1) << "fired twice";
            at = static_cast<int>(i);
        }
    }
    return at;
}

} // namespace

TEST(PowerEvents, RaisesEachEdgeOnce) {
    const int LB = StatusBit::batteryLow, SI = StatusBit::shutdownImminent;
    EXPECT_THAT(eventsOf({C, S(OL), S(OL), L, L, C}), ElementsAre("connected", "", "", "lost", "", "connected"));
    EXPECT_THAT(eventsOf({S(OL), S(OB), S(OB), S(OL), S(OL)}),
                ElementsAre("connected", "mains-lost", "", "mains-restored", ""));
    EXPECT_THAT(eventsOf({C, S(OB | LB), S(OB | LB | SI), S(OB | LB | SI), S(OB), S(OB | LB)}),
                ElementsAre("connected", "mains-lost battery-low", "shutdown-imminent", "", "", "battery-low"));
    // The state outlives a loss: back on battery raises nothing new, back on mains is an edge.
    EXPECT_THAT(eventsOf({C, S(OB), L, C, S(OB), L, C, S(OL)}),
                ElementsAre("connected", "mains-lost", "lost", "connected", "", "lost", "connected", "mains-restored"));
}

struct RuleCase {
    const char* what;
    ShutdownThresholds thresholds;
    std::vector<Step> steps;
    int firesAt;
};

class ShutdownRuleCases : public testing::TestWithParam<RuleCase> {};

TEST_P(ShutdownRuleCases, FiresOnceAtTheRightSample) {
    EXPECT_EQ(firesAt(GetParam().thresholds, GetParam().steps), GetParam().firesAt) << GetParam().what;
}

const ShutdownThresholds below20{20, std::nullopt}, runtime300{std::nullopt, 300}, either{20, 300};
INSTANTIATE_TEST_SUITE_P(
    Sequences, ShutdownRuleCases,
    testing::Values(
        // debounce: three low samples in a row
        RuleCase{"three low samples", below20, {S(OB, 30), S(OB, 19), S(OB, 19), S(OB, 18), S(OB, 17)}, 3},
        RuleCase{"one bogus reading", below20, {S(OB, 0), S(OB, 50), S(OB, 0), S(OB, 0), S(OB, 50)}, -1},
        RuleCase{"exactly the threshold is not below", below20, {S(OB, 20), S(OB, 20), S(OB, 20)}, -1},
        RuleCase{"runtime", runtime300, {S(OB, 80, 299), S(OB, 80, 200), S(OB, 80, 100)}, 2},
        RuleCase{"either threshold counts", either, {S(OB, 10), S(OB, 80, 100), S(OB, 15)}, 2},
        RuleCase{"no reading is not low", either, {S(OB, {}, {}), S(OB, {}, {}), S(OB, {}, {})}, -1},
        // on mains
        RuleCase{"never on mains", below20, {S(OL, 5), S(OL, 5), S(OL, 5), S(OL | 0x100, 5)}, -1},
        RuleCase{"mains back resets the run", below20, {S(OB, 5), S(OB, 5), S(OL, 5), S(OB, 5), S(OB, 5), S(OB, 5)}, 5},
        // the board's own signal fires at once, off mains only
        RuleCase{"shutdown imminent", below20, {S(OB, 90), S(OB | 0x100, 90)}, 1},
        RuleCase{"shutdown imminent without thresholds", {}, {S(OB, 1), S(OB, 1), S(OB, 1), S(OB | 0x100, 1)}, 3},
        // a lost board
        RuleCase{"lost is not a reason", below20, {S(OB, 5), S(OB, 5), L, L, L}, -1},
        RuleCase{"lost starts the run over", below20, {S(OB, 5), S(OB, 5), L, C, S(OB, 5), S(OB, 5), S(OB, 5)}, 6},
        // once
        RuleCase{"never twice", below20, {S(OB, 5), S(OB, 5), S(OB, 5), S(OL), S(OB, 5), S(OB, 5), S(OB | 0x100)}, 2}));

TEST(ShutdownRule, ReasonNamesTheReadingAndTheThreshold) {
    ShutdownRule rule(below20);
    rule.sample(S(OB, 12));
    rule.sample(S(OB, 12));
    EXPECT_EQ(rule.sample(S(OB, 11)), "battery charge 11 % below 20 % for 3 samples");
    EXPECT_TRUE(rule.fired());
}

TEST(JsonRecords, SnapshotLeavesOutWhatTheBoardDidNotReport) {
    Snapshot s;
    s.capacity = 55;
    s.batteryCurrent = -1.25;
    s.status = OB | StatusBit::batteryLow;
    EXPECT_EQ(JsonRecords::line(JsonRecords::sample(2, s)),
              R"({"batteryCurrent":-1.25,"capacity":55,"flags":["discharging","batteryLow","batteryPresent"],)"
              R"("sample":2,"status":100,"type":"sample"})");
}

TEST(JsonRecords, TextThatIsNotUtf8IsRepairedNotRefused) {
    EXPECT_EQ(JsonRecords::line(JsonRecords::board("UPS \xff", "S1", false, "location:1")),
              R"({"bootloader":false,"id":"location:1","product":"UPS )"
              "\xef\xbf\xbd"
              R"(","serial":"S1","type":"board"})");
    EXPECT_EQ(JsonRecords::line(JsonRecords::event(PowerEvent::shutdownStarted, "runtime")),
              R"({"detail":"runtime","event":"shutdown-started","type":"event"})");
    EXPECT_EQ(eventText(PowerEvent::shutdownStarted), "shutdown started");
}
