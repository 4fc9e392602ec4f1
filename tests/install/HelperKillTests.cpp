// The helper killed (SIGKILL) right before and right after each of its moves and starts: a whole, sealed client
// is always on disk where the log says, and the same install run again finishes or refuses, leaving a whole client
// in place.
#include "HelperFixture.h"
#include "install/PropertyList.h"
#include "install/SealedBundle.h"

#include <csignal>
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using NativeInstaller::HelperStep;
using testing::StartsWith;

namespace {

struct KillPoint {
    HelperStep step;
    bool done;
    bool acknowledges; // false: the new client never acknowledges, so that the helper reaches its rollback
    int again;         // the status of the same install run again
};

std::ostream& operator<<(std::ostream& out, const KillPoint& point) {
    return out << (point.done ? "after" : "before") << " step " << static_cast<int>(point.step);
}

// The version of the whole client sealed with the development key at bundle; none when there is none.
std::optional<std::string> sealedClient(const fs::path& bundle) {
    try {
        SealedBundle::verify(bundle, TestKey::development().publicKey());
        return PropertyList::read(bundle / "Contents/Info.plist")->string("CFBundleShortVersionString");
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

class HelperKilled : public HelperTest, public testing::WithParamInterface<KillPoint> {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        sealBundle(target);
        times = {60, 45, 20ms};
    }
};

} // namespace

TEST_P(HelperKilled, LeavesAWholeClientWhereTheLogSaysAndFinishesWhenRunAgain) {
    const auto point = GetParam();
    const auto stage = point.acknowledges ? stageUpdate("2.1.0") : stageUpdate("2.1.0", fs::path(QUELMAR_NEVER_READY));
    ASSERT_FALSE(stage.empty());
    const auto previous = stage / "previous.app";

    killAt = {{point.step, point.done}};
    ASSERT_EQ(install(stage, "2.1.0", exitedProcess()).status, 128 + SIGKILL);
    // The last line names the move under way; one rename makes it, so the bundle lies whole at one of its ends.
    const auto logged = lines(log());
    ASSERT_FALSE(logged.empty());
    const std::string moving = "正在移动：", arrow = " → ";
    ASSERT_THAT(logged.back(), StartsWith(moving));
    const auto ends = logged.back().substr(moving.size());
    const fs::path from = ends.substr(0, ends.find(arrow)), to = ends.substr(ends.find(arrow) + arrow.size());
    EXPECT_NE(sealedClient(from).has_value(), sealedClient(to).has_value()) << logged.back();
    // The old client is never lost.
    EXPECT_TRUE(sealedClient(target) == "2.0.1" || sealedClient(previous) == "2.0.1");

    killAt.reset();
    const auto again = install(stage, "2.1.0", exitedProcess());
    EXPECT_EQ(again.status, point.again);
    if (point.again == 0) {
        EXPECT_EQ(log(), "更新成功；旧版保留在 " + previous.string() + "\n");
        EXPECT_EQ(sealedClient(target), "2.1.0");
        EXPECT_EQ(sealedClient(previous), "2.0.1");
    } else {
        EXPECT_THAT(log(), StartsWith("更新失败：")) << log();
        EXPECT_THAT(log(), testing::Not(testing::HasSubstr("恢复失败"))) << log();
        EXPECT_EQ(sealedClient(target), "2.0.1");
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Install, HelperKilled, testing::Values(
    KillPoint{HelperStep::moveAside, false, true, 0},
    KillPoint{HelperStep::moveAside, true, true, 0},   // no bundle at the target
    KillPoint{HelperStep::moveIn, false, true, 0},
    KillPoint{HelperStep::moveIn, true, true, 0},      // the new client never started
    KillPoint{HelperStep::start, false, true, 0},
    KillPoint{HelperStep::start, true, true, 0}));     // the new client runs, no one waits for it
INSTANTIATE_TEST_SUITE_P(Rollback, HelperKilled, testing::Values(
    KillPoint{HelperStep::moveFailed, false, false, 1},
    KillPoint{HelperStep::moveFailed, true, false, 1}, // no bundle at the target
    KillPoint{HelperStep::moveBack, false, false, 1},
    KillPoint{HelperStep::moveBack, true, false, 1},
    KillPoint{HelperStep::restart, false, false, 1},
    KillPoint{HelperStep::restart, true, false, 1}));
// clang-format on
