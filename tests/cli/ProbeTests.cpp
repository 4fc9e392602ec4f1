#include "HexFixtures.h"
#include "Process.h"
#include "cli/Modes.h"
#include "device/HIDPlatform.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar::test;
using testing::ElementsAre;
using testing::MatchesRegex;
using testing::SizeIs;

namespace {

ProcessResult probe(const std::string& simulator, const std::vector<std::string>& arguments = {"--probe"}) {
    ProcessOptions options;
    options.setEnv["QUELMAR_SIMULATOR"] = simulator;
    return runProcess(QUELMAR_EXECUTABLE, arguments, options);
}

ProcessResult probeBoards(const std::string& file, const std::vector<std::string>& arguments = {"--probe"}) {
    return probe(std::string(QUELMAR_TEST_DATA) + "/boards/" + file, arguments);
}

// HID access that finds nothing because it is broken.
class BrokenHID final : public quelmar::HIDPlatform {
public:
    std::vector<quelmar::HIDInterface> enumerate(std::uint16_t) override { return {}; }
    quelmar::HIDOpenResult open(const quelmar::HIDInterface&) override { return {nullptr, ENODEV}; }
    std::optional<std::string> problem() const override { return "Couldn't create udev context"; }
};

} // namespace

TEST(Probe, FullBoardPrintsIdentityConfigurationAndSample) {
    const auto result = probeBoards("full.json");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    // 12.0 and 5.0 keep their fraction part; -0.02 and 0.01 print in their shortest form.
    EXPECT_THAT(
        lines(result.out),
        ElementsAre("Quelmar DC UPS serial=QM2A000301 boot=false id=location:17825792", "HW 1.2 FW 1.0.8",
                    "config capacity=2600mAh resistance=45000uOhm nominal=2",
                    "sample=1 battery=12.0V current=-1.5A soc=87% temperature=25.0C input=12.34V/0.5A "
                    "output5=5.0V/0.01A output12=12.05V/-0.02A status=[\"市电供电\", \"放电中\", \"电池在位\"]"));
}

TEST(Probe, LegacyBoardPrintsMinusOneForWhatItDoesNotReport) {
    const auto result = probeBoards("legacy.json");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(
        lines(result.out),
        ElementsAre("Vetrola UPS serial=V107 boot=false id=location:17825792", "HW 1.1 FW 1.0.7",
                    "config capacity=2600mAh resistance=45000uOhm nominal=2",
                    "sample=1 battery=11.5V current=0.75A soc=55% temperature=31.5C input=12.1V/-1.0A "
                    "output5=-1.0V/-1.0A output12=-1.0V/-1.0A status=[\"市电供电\", \"充电中\", \"电池在位\"]"));
}

TEST(Probe, BoardWithoutIdentityIsSampledThroughTheLegacyReports) {
    const auto result = probeBoards("no-identity.json");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(
        lines(result.out),
        ElementsAre("k52 power board serial=K1 boot=false id=location:17825792",
                    "config capacity=2600mAh resistance=45000uOhm nominal=2",
                    "sample=1 battery=12.6V current=0.0A soc=100% temperature=26.0C input=12.0V/-1.0A "
                    "output5=-1.0V/-1.0A output12=-1.0V/-1.0A status=[\"市电供电\", \"已充满\", \"电池在位\"]"));
}

TEST(Probe, BootloaderBoardPrintsOnlyItsBoardLine) {
    const auto result = probeBoards("bootloader.json", {"--probe", "--samples", "3"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(lines(result.out), ElementsAre("Quelmar DC UPS serial=QM2A000301 boot=true id=location:17825792"));
}

TEST(Probe, NoBoardIsNotAFailure) {
    const auto result = probeBoards("none.json");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "No Quelmar connected\n");
}

TEST(Probe, BrokenHIDAccessIsNamedWhenNoBoardIsFound) {
    BrokenHID hid;
    testing::internal::CaptureStdout();
    const int status = quelmar::Modes::probe({"quelmar", "--probe"}, [&]() -> quelmar::HIDPlatform& { return hid; });
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No Quelmar connected\nHID problem: Couldn't create udev context\n");
    EXPECT_EQ(status, 0);
}

TEST(Probe, OutOfRangeConfigurationIsLeftOutButSamplesFollow) {
    const auto result = probeBoards("config-out-of-range.json", {"--probe", "--samples", "2"});
    EXPECT_EQ(result.status, 0);
    const auto out = lines(result.out);
    ASSERT_THAT(out, SizeIs(4));
    EXPECT_EQ(out[1], "HW 1.2 FW 1.0.8");
    EXPECT_THAT(out[2], testing::StartsWith("sample=1 battery="));
    EXPECT_THAT(out[3], testing::StartsWith("sample=2 battery="));
}

// Failures print one "ERROR: " line and end the probe at once with status 1.
TEST(Probe, OpenFailureShowsThePlatformStatus) {
    const auto result = probeBoards("open-fails.json");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_THAT(lines(result.out), ElementsAre("Quelmar DC UPS serial=QM1 boot=false id=location:17825792",
                                               "ERROR: USB 打开失败：0x0000000d，请关闭占用设备的其他客户端"));
}

TEST(Probe, FailedSampleEndsTheProbe) {
    const auto result = probeBoards("sample-fails.json", {"--probe", "--samples", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(lines(result.out),
                ElementsAre("Quelmar DC UPS serial=QM1 boot=false id=location:17825792", "HW 1.2 FW 1.0.8",
                            "config capacity=2600mAh resistance=45000uOhm nominal=2",
                            "ERROR: 读取 Report 8 失败：0x00000020"));
}

TEST(Probe, BoardsAreProbedInIdTextOrderAndTheFirstFailureStops) {
    // "location:20" sorts before "location:3"; the board at 3 is never reached.
    const auto result = probeBoards("two-boards.json");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(lines(result.out), ElementsAre("Quelmar DC UPS serial=TWENTY boot=false id=location:20",
                                               "ERROR: USB 打开失败：0x0000000d，请关闭占用设备的其他客户端"));
}

TEST(Probe, UnreadableBoardDescriptionIsReported) {
    const auto misspelt = probeBoards("misspelt.json");
    EXPECT_EQ(misspelt.status, 1);
    EXPECT_THAT(misspelt.out, MatchesRegex("ERROR: QUELMAR_SIMULATOR: .*misspelt.json: boards\\[0\\]\\.faults: "
                                           "unknown member \"getstatus\"\n"));
    const auto missing = probeBoards("no-such-file.json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.out, MatchesRegex("ERROR: QUELMAR_SIMULATOR: cannot read .*no-such-file.json\n"));
}

TEST(Probe, StandardEmulatedBoardTakesSamplesASecondApart) {
    const auto result = probe("1", {"--probe", "--samples", "3"});
    EXPECT_EQ(result.status, 0);
    const auto out = lines(result.out);
    ASSERT_THAT(out, SizeIs(6));
    EXPECT_EQ(out[0], "Quelmar DC UPS serial=QM2A000172 boot=false id=location:17825792");
    EXPECT_EQ(out[1], "HW 1.2 FW 1.0.8");
    EXPECT_EQ(out[2], "config capacity=2600mAh resistance=45000uOhm nominal=2");
    for (int j = 1; j <= 3; ++j) {
        EXPECT_THAT(out[2 + j], MatchesRegex("sample=" + std::to_string(j) +
                                             " battery=[0-9.]+V current=-?[0-9.]+A soc=[0-9]+% temperature=[0-9.]+C "
                                             "input=[0-9.]+V/-?[0-9.]+A output5=[0-9.]+V/-?[0-9.]+A "
                                             "output12=[0-9.]+V/-?[0-9.]+A status=\\[.*\\]"));
    }
    // Two one-second pauses between three samples.
    EXPECT_GE(result.elapsed, std::chrono::milliseconds(2000));
}

TEST(Probe, OneSampleDoesNotSleep) {
    const auto result = probe("1", {"--probe", "--samples", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(lines(result.out), SizeIs(4));
    EXPECT_LT(result.elapsed, std::chrono::milliseconds(1000));
}

TEST(Probe, SampleCountWithSignIsAccepted) {
    const auto result = probeBoards("full.json", {"--samples", "+2", "--probe"});
    EXPECT_EQ(result.status, 0);
    const auto out = lines(result.out);
    ASSERT_THAT(out, SizeIs(5));
    EXPECT_THAT(out[4], testing::StartsWith("sample=2 "));
}

class ProbeSampleCount : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ProbeSampleCount, InvalidCountIsRefusedBeforeAnyBoardIsSeen) {
    auto arguments = GetParam();
    arguments.insert(arguments.begin(), "--probe");
    const auto result = probeBoards("full.json", arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "--samples requires a count from 1 to 3600\n");
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(Values, ProbeSampleCount,
                         testing::Values(
                             // out of range
                             std::vector<std::string>{"--samples", "0"}, std::vector<std::string>{"--samples", "3601"},
                             std::vector<std::string>{"--samples", "-1"},
                             std::vector<std::string>{"--samples", "99999999999999999999999"},
                             // not a decimal integer
                             std::vector<std::string>{"--samples", "x"}, std::vector<std::string>{"--samples", ""},
                             std::vector<std::string>{"--samples", "+"}, std::vector<std::string>{"--samples", " 3"},
                             std::vector<std::string>{"--samples", "3s"}, std::vector<std::string>{"--samples", "0x10"},
                             // missing; the first occurrence counts
                             std::vector<std::string>{"--samples"},
                             std::vector<std::string>{"--samples", "0", "--samples", "2"}));

// ---- A recording for a bug report: the same probe, and a description that replays it

class ProbeRecording : public testing::TestWithParam<std::string> {};

TEST_P(ProbeRecording, ReplaysWhatTheProbeSaw) {
    const TemporaryDirectory directory;
    const auto recording = (directory / "recorded.json").string();
    const auto original = probeBoards(GetParam());
    const auto recorded = probeBoards(GetParam(), {"--probe", "--record", recording});
    EXPECT_EQ(recorded.out, original.out);
    EXPECT_EQ(recorded.status, original.status);
    const auto replayed = probe(recording);
    EXPECT_EQ(replayed.out, original.out);
    EXPECT_EQ(replayed.status, original.status);
}

INSTANTIATE_TEST_SUITE_P(Boards, ProbeRecording,
                         testing::Values("full.json", "legacy.json", "no-identity.json", "bootloader.json",
                                         "sample-fails.json", "two-boards.json", "config-out-of-range.json"),
                         [](const auto& test) {
                             auto name = test.param.substr(0, test.param.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(ProbeRecording, DescribesTheBoardInItsOwnWords) {
    const TemporaryDirectory directory;
    const auto recording = directory / "recorded.json";
    ASSERT_EQ(probeBoards("full.json", {"--probe", "--record", recording.string()}).status, 0);
    const auto board = nlohmann::json::parse(readFile(recording))["boards"].at(0);
    EXPECT_EQ(board["product"], "Quelmar DC UPS");
    EXPECT_EQ(board["serial"], "QM2A000301");
    EXPECT_EQ(board["location"], 17825792);
    EXPECT_EQ(board["software"], "1.0.8");
    EXPECT_EQ(board["config"]["resistanceMicroOhms"], 45000);
    EXPECT_EQ(
        board["reports"].at(0),
        nlohmann::json::parse(R"({"interface": "vendor", "type": "feature", "id": 6, "bytes": "06 01 02 01 00 08"})"));
}

TEST(ProbeRecording, NeedsAFile) {
    const auto result = probeBoards("full.json", {"--probe", "--record"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "--record requires a file\n");
}
