// The helper's two waits run out: for the new client's acknowledgement and for the old client's exit. Each path
// runs at short times with the test build of the helper, and once more, labelled slow, with the client's own
// executable at the real times (45 polls and 60 probes one second apart).
#include "HelperFixture.h"

#include <csignal>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

class HelperWait : public HelperTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        realTimes = GetParam();
        times = realTimes ? NativeInstaller::HelperTimes{} : NativeInstaller::HelperTimes{60, 45, 20ms};
    }
};

// A terminated process leaves its marker a moment after the signal.
bool appears(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return fs::exists(path);
}

} // namespace

TEST_P(HelperWait, ANewClientThatNeverAcknowledgesIsReplacedByTheOld) {
    // It answers with the right token but another version, which does not count.
    const auto stage = stageUpdate("2.1.0", fs::path(QUELMAR_NEVER_READY));
    ASSERT_FALSE(stage.empty());
    const auto holder = holdStage(stage);
    const auto result = install(stage, "2.1.0", exitedProcess(), 120s);
    EXPECT_EQ(result.status, 1);
    EXPECT_GE(result.elapsed, times.acknowledgementPolls * times.pause);
    EXPECT_THAT(lines(log()), ElementsAre("更新失败：新版未完成窗口启动，恢复旧版", "旧版已恢复"));
    EXPECT_TRUE(appears(stage / "never-ready.terminated"));
    EXPECT_TRUE(fs::exists(stage / "ready.json"));
    EXPECT_EQ(readFile(stage / "failed.app/Contents/Info.plist"), infoPlist(clientInfo("2.1.0")));
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_FALSE(fs::exists(stage / "previous.app"));
}

TEST_P(HelperWait, AnOldClientThatDoesNotExitCancelsTheUpdate) {
    const auto stage = stageUpdate("2.1.0");
    ASSERT_FALSE(stage.empty());
    pid_t oldClient = 0;
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("300"), nullptr};
    ASSERT_EQ(posix_spawn(&oldClient, "/bin/sleep", nullptr, nullptr, argv, environ), 0);

    const auto result = install(stage, "2.1.0", oldClient, 120s);
    kill(oldClient, SIGKILL);
    waitpid(oldClient, nullptr, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_GE(result.elapsed, times.exitProbes * times.pause);
    EXPECT_EQ(log(), "更新失败：原客户端未退出，取消更新\n");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_TRUE(fs::exists(stage / "Quelmar_Monitor.app/Contents/Seal"));
    EXPECT_FALSE(fs::exists(stage / "previous.app"));
}

INSTANTIATE_TEST_SUITE_P(ShortTimes, HelperWait, testing::Values(false));
INSTANTIATE_TEST_SUITE_P(RealTimes, HelperWait, testing::Values(true));
