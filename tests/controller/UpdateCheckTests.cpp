#include "ControllerFixture.h"
#include "HttpsServer.h"
#include "SignedFeeds.h"

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

class UpdateCheck : public ControllerTest {
protected:
    void serve(const std::vector<nlohmann::json>& packages) {
        server.addFile("feed.json", signedEnvelopeOf(feedOf(packages)));
    }
    std::string updateText() const { return model->updateText().toStdString(); }

    HttpsServer server;
};

} // namespace

TEST_F(UpdateCheck, FindsANewerClientAndTheFirmwareForTheConnectedBoard) {
    serve({clientPackage("2.1.0"), firmwarePackage("1.0.9")});
    makeWithFeed({testBoard()}, server);
    run(model->poll());
    EXPECT_EQ(updateText(), "等待检查");
    run(model->checkUpdates(true));
    EXPECT_EQ(updateText(), "发现原生版 2.1.0");
    ASSERT_TRUE(model->update());
    EXPECT_EQ(model->update()->version, "2.1.0");
    ASSERT_TRUE(model->firmwarePackage());
    EXPECT_EQ(model->firmwarePackage()->version, "1.0.9");
    EXPECT_THAT(logTexts(),
                ElementsAre("Quelmar DC UPS · 已连接 · 固件 1.0.8", "正在检查原生客户端更新…", "发现原生版 2.1.0"));
    EXPECT_EQ(model->lastCheck(), now);

    // A later check that fails keeps what the earlier one found; only a manual one raises an alert.
    server.addFile("feed.json", "{}");
    run(model->checkUpdates(false));
    EXPECT_EQ(updateText(), "检查失败，可点击重试");
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(model->update()->version, "2.1.0");
    EXPECT_TRUE(model->firmwarePackage());
    run(model->checkUpdates(true));
    ASSERT_TRUE(model->errorMessage());
    EXPECT_EQ(logTexts().back(), "更新检查失败：" + model->errorMessage()->toStdString());
    EXPECT_FALSE(model->checking());
}

TEST_F(UpdateCheck, SaysUpToDateAndRefusesToOverlap) {
    serve({clientPackage("2.0.1")});
    makeWithFeed({}, server);
    auto first = model->checkUpdates(false);
    EXPECT_TRUE(model->checking());
    run(model->checkUpdates(true)); // another check is running: nothing at all
    run(std::move(first));
    EXPECT_EQ(updateText(), "原生客户端已是最新版本");
    EXPECT_FALSE(model->update());
    EXPECT_THAT(logTexts(), ElementsAre("正在检查原生客户端更新…", "原生客户端已是最新版本"));
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(UpdateCheck, RechecksSixHoursAfterThePreviousCheckStarted) {
    serve({});
    makeWithFeed({}, server, "/slow/feed.json?delay=150");
    const auto start = now;
    model->start();
    ASSERT_TRUE(model->checking());
    now += 1h; // the check takes an hour, as far as the controller can tell
    ASSERT_TRUE(waitUntil([&] { return !model->checking(); }));
    EXPECT_EQ(model->lastCheck(), start);
    now = start + 6h - 1s;
    QTest::qWait(100);
    EXPECT_EQ(server.requestCount(), 1u);
    now = start + 6h;
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 2; }));
    EXPECT_EQ(model->lastCheck(), start + 6h);
}
