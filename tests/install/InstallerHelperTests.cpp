#include "HelperFixture.h"

#include <nlohmann/json.hpp>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::StartsWith;

TEST_F(HelperTest, InstallsStartsAndKeepsThePreviousVersion) {
    const auto stage = stageUpdate("2.1.0");
    ASSERT_FALSE(stage.empty());
    EXPECT_EQ(stage.parent_path(), apps);
    EXPECT_EQ(reportedVersion(target), "2.0.1");

    const auto result = install(stage, "2.1.0", exitedProcess());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(log(), "更新成功；旧版保留在 " + (stage / "previous.app").string() + "\n");
    EXPECT_EQ(reportedVersion(target), "2.1.0");
    EXPECT_EQ(reportedVersion(stage / "previous.app"), "2.0.1");
    EXPECT_FALSE(fs::exists(stage / "Quelmar_Monitor.app"));
    EXPECT_FALSE(fs::exists(stage / "failed.app"));
    // The new client acknowledged this attempt's token with its own version.
    const auto ready = nlohmann::json::parse(readFile(stage / "ready.json"));
    EXPECT_EQ(ready["version"], "2.1.0");
    EXPECT_TRUE(std::regex_match(ready["token"].get<std::string>(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));

    // The log holds only the latest run.
    EXPECT_EQ(runHelper({"--install", "5"}).status, 2);
    EXPECT_EQ(log(), "");
}

class WrongArguments : public HelperTest, public testing::WithParamInterface<std::vector<std::string>> {};
TEST_P(WrongArguments, ExitWithTwoAndAnEmptyLog) {
    realTimes = true; // the client's own dispatch of --install
    fs::create_directories(home / ".vetrola/native-updates");
    writeFile(home / ".vetrola/native-updates/install.log", "earlier run\n");
    std::vector<std::string> arguments = GetParam();
    for (auto& argument : arguments) {
        argument = std::regex_replace(argument, std::regex("APPS"), apps.string());
        argument = std::regex_replace(argument, std::regex("ROOT"), dir.path().string());
    }
    const auto result = runHelper(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(Count, WrongArguments, testing::Values(
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X"},
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0", "x"}));
INSTANTIATE_TEST_SUITE_P(ProcessID, WrongArguments, testing::Values(
    std::vector<std::string>{"--install", "0", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "1", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "-7", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "2147483648", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "12a", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", " 12", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X", "2.1.0"}));
INSTANTIATE_TEST_SUITE_P(Stage, WrongArguments, testing::Values(
    // Not a sibling of the target.
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "ROOT/.quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "APPS/sub/.quelmar-native-update-X", "2.1.0"},
    // Not a staging directory's name.
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "APPS/quelmar-native-update-X", "2.1.0"},
    std::vector<std::string>{"--install", "99999", "APPS/Quelmar_Monitor.app", "APPS/.quelmar-native-update-X/..", "2.1.0"}));
// clang-format on

TEST_F(HelperTest, ASiblingNamedThroughDotsIsStillASibling) {
    const auto stage = stageUpdate("2.1.0");
    const auto roundabout = apps / "sub" / ".." / stage.filename();
    fs::create_directory(apps / "sub");
    const auto result = runHelper({"--install", "+" + std::to_string(exitedProcess()),
                                   (apps / "." / "Quelmar_Monitor.app").string(), roundabout.string(), "2.1.0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(reportedVersion(target), "2.1.0");
}

TEST_F(HelperTest, ABundleChangedAfterStagingIsNotInstalled) {
    const auto stage = stageUpdate("2.1.0");
    writeFile(stage / "Quelmar_Monitor.app/Contents/bin/quelmar", "#!/bin/sh\n");
    const auto result = install(stage, "2.1.0", exitedProcess());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(log(), "更新失败：seal 失败：the sealed file Contents/bin/quelmar was changed\n");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_FALSE(fs::exists(stage / "previous.app"));

    // So is one whose version is not the expected one.
    const auto other = stageUpdate("2.1.0");
    EXPECT_EQ(install(other, "2.1.1", exitedProcess()).status, 1);
    EXPECT_EQ(log(), "更新失败：更新包的应用标识、原生类型或版本不符\n");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
}

TEST_F(HelperTest, AStartFailureRestoresTheOldVersion) {
    // Sealed and valid, but the executable it names is no plain file name: the start fails after the swap.
    const auto stage = stageUpdate("2.1.0", std::nullopt, "sub/quelmar");
    ASSERT_FALSE(stage.empty());
    const auto holder = holdStage(stage);
    const auto result = install(stage, "2.1.0", exitedProcess());
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(
        lines(log()),
        ElementsAre("更新失败：open 失败：" + target.string() + ": the bundle names no executable", "旧版已恢复"));
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_EQ(readFile(stage / "failed.app/Contents/Info.plist"), infoPlist(clientInfo("2.1.0", "sub/quelmar")));
    EXPECT_FALSE(fs::exists(stage / "previous.app"));
}

TEST_F(HelperTest, TheVersionComesFromTheBundleTheClientRunsFrom) {
    const auto plist = target / "Contents/Info.plist";
    writeFile(plist, infoPlist(clientInfo("7.7.7")));
    EXPECT_EQ(reportedVersion(target), "7.7.7");
    // Without a text version the compiled-in one stands.
    writeFile(plist, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key>"
                     "<integer>7</integer></dict></plist>");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    writeFile(plist, "garbage");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
}
