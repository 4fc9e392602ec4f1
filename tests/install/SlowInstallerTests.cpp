// These wait out the helper's full counts: 45 polls for the acknowledgement, 60 probes of the old client.
#include "HelperFixture.h"

#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;

namespace {

class SlowHelperTest : public HelperTest {};

} // namespace

TEST_F(SlowHelperTest, ANewClientThatNeverAcknowledgesIsReplacedByTheOld) {
    // It answers with the right token but another version, which does not count.
    const auto stage = stageUpdate("2.1.0", fs::path(QUELMAR_NEVER_READY));
    ASSERT_FALSE(stage.empty());
    const auto result = install(stage, "2.1.0", exitedProcess(), std::chrono::seconds(120));
    EXPECT_EQ(result.status, 1);
    EXPECT_GE(result.elapsed, std::chrono::seconds(45));
    EXPECT_THAT(lines(log()), ElementsAre("更新失败：新版未完成窗口启动，恢复旧版", "旧版已恢复"));
    EXPECT_TRUE(fs::exists(stage / "never-ready.terminated"));
    EXPECT_TRUE(fs::exists(stage / "ready.json"));
    EXPECT_EQ(readFile(stage / "failed.app/Contents/Info.plist"), infoPlist(clientInfo("2.1.0")));
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_FALSE(fs::exists(stage / "previous.app"));
}

TEST_F(SlowHelperTest, AnOldClientThatDoesNotExitCancelsTheUpdate) {
    const auto stage = stageUpdate("2.1.0");
    ASSERT_FALSE(stage.empty());
    pid_t oldClient = 0;
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("300"), nullptr};
    ASSERT_EQ(posix_spawn(&oldClient, "/bin/sleep", nullptr, nullptr, argv, environ), 0);

    const auto result = install(stage, "2.1.0", oldClient, std::chrono::seconds(120));
    kill(oldClient, SIGKILL);
    waitpid(oldClient, nullptr, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_GE(result.elapsed, std::chrono::seconds(60));
    EXPECT_EQ(log(), "更新失败：原客户端未退出，取消更新\n");
    EXPECT_EQ(reportedVersion(target), "2.0.1");
    EXPECT_TRUE(fs::exists(stage / "Quelmar_Monitor.app/Contents/Seal"));
    EXPECT_FALSE(fs::exists(stage / "previous.app"));
}
