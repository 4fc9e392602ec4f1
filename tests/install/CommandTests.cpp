#include "HexFixtures.h"
#include "Matchers.h"
#include "core/UPSError.h"
#include "install/Command.h"

#include <csignal>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

class CommandRun : public testing::Test {
protected:
    // A shell script named name, executable.
    std::string tool(const std::string& name, const std::string& body) {
        const auto path = dir / name;
        writeFile(path, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path, std::filesystem::perms(0755));
        return path.string();
    }
    TemporaryDirectory dir;
};

} // namespace

TEST_F(CommandRun, FailureNamesTheToolAndWhatItPrinted) {
    const auto failing = tool("failing-tool", "printf bad\nexit 3");
    EXPECT_THAT([&] { Command::run(failing, {}); }, ThrowsUPSError("failing-tool 失败：bad"));
    // The error stream counts as output too; a signal is a failure like any other status.
    const auto loud = tool("loud", "printf 'to out\\n'; printf 'to err' >&2; exit 1");
    EXPECT_THAT([&] { Command::run(loud, {}); }, ThrowsUPSError("loud 失败：to out\nto err"));
    const auto killed = tool("killed", "printf dying; kill -9 $$");
    EXPECT_THAT([&] { Command::run(killed, {}); }, ThrowsUPSError("killed 失败：dying"));
    // Output that is not UTF-8 is shown as nothing.
    const auto binary = tool("binary", "printf '\\377\\376'; exit 1");
    EXPECT_THAT([&] { Command::run(binary, {}); }, ThrowsUPSError("binary 失败："));
}

TEST_F(CommandRun, SuccessReturnsEverythingPrinted) {
    const auto chatty = tool("chatty", "printf out; printf err >&2; exit 0");
    EXPECT_EQ(Command::run(chatty, {}), "outerr");
    const auto echo = tool("echo-arguments", "printf '%s|' \"$@\"");
    EXPECT_EQ(Command::run(echo, {"a b", "", "中文", "--x"}), "a b||中文|--x|");
}

TEST_F(CommandRun, MuchOutputDoesNotBlock) {
    const auto flood = tool("flood", "head -c 3000000 /dev/zero | tr '\\0' x; printf done >&2");
    const auto output = Command::run(flood, {});
    EXPECT_EQ(output.size(), 3000004u);
    EXPECT_TRUE(output.ends_with("xdone"));
}

TEST_F(CommandRun, AProgramThatCannotStartThrowsThePlatformError) {
    EXPECT_THROW(Command::run((dir / "missing").string(), {}), std::system_error);
    writeFile(dir / "not-executable", "#!/bin/sh\n");
    EXPECT_THROW(Command::run((dir / "not-executable").string(), {}), std::system_error);
}

TEST_F(CommandRun, AnEndThatCannotBeWaitedForIsNoSuccess) {
    // With SIGCHLD ignored the kernel reaps the tool itself, so its status can no longer be asked for.
    const auto failing = tool("failing", "exit 3");
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
    EXPECT_THROW(Command::run(failing, {}), std::system_error);
    sigaction(SIGCHLD, &previous, nullptr);
}
