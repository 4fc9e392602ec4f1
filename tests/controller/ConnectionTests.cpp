#include "ControllerFixture.h"
#include "core/StatusBits.h"
#include "history/HistoryStore.h"

#include <algorithm>

#include <QTimer>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const std::string disconnected = "USB 已断开，等待重新连接";

class Connecting : public ControllerTest {
protected:
    std::string text() const { return model->connectionText().toStdString(); }
};

} // namespace

TEST_F(Connecting, FollowsTheStatesWithoutAnyoneClicking) {
    make({});
    EXPECT_EQ(text(), "正在查找设备");
    run(model->poll());
    EXPECT_EQ(text(), "未连接 · 请接入 Quelmar USB");
    EXPECT_THAT(logTexts(), IsEmpty());

    // Two boards: nothing connects until one is selected; the next pass then connects to it.
    make({testBoard(), testBoard(0x01200000, "QM2")});
    run(model->poll());
    EXPECT_EQ(text(), "发现多台设备，请选择后连接");
    EXPECT_EQ(model->devices().size(), 2u);
    model->setSelectedID(QString::fromStdString(idOf(0x01200000)));
    run(model->poll());
    EXPECT_EQ(text(), "已连接");
    EXPECT_EQ(model->connected()->serial, "QM2");
    EXPECT_FALSE(model->snapshot()) << "the first sample comes with the next pass";
    EXPECT_EQ(model->capacity(), "2600");
    EXPECT_EQ(model->resistance(), "45.000");
    EXPECT_EQ(model->nominal(), 2);
    EXPECT_TRUE(model->canConfigure());
    run(model->poll());
    ASSERT_TRUE(model->snapshot());
    EXPECT_THAT(logTexts(), ElementsAre("Quelmar DC UPS · 已连接 · 固件 1.0.8"));

    // Unplugged: logged once while it stays away; the remaining board is the only one, so it is taken.
    unplug(1);
    run(model->poll());
    EXPECT_EQ(text(), disconnected);
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->capacity(), "");
    EXPECT_EQ(model->nominal(), 2) << "the nominal choice keeps its value";
    run(model->poll());
    EXPECT_EQ(model->connected()->serial, "QM1");
    EXPECT_THAT(logTexts(), ElementsAre("Quelmar DC UPS · 已连接 · 固件 1.0.8", disconnected,
                                        "Quelmar DC UPS · 已连接 · 固件 1.0.8"));
}

TEST_F(Connecting, LogsARepeatedFailureOnceWhileDisconnected) {
    auto locked = testBoard();
    locked.faults.openStatus = 13;
    make({locked});
    const std::string refused = "USB 打开失败：0x0000000d，请关闭占用设备的其他客户端";
    for (int pass = 0; pass < 3; ++pass) {
        run(model->poll());
    }
    EXPECT_EQ(text(), refused);
    EXPECT_THAT(logTexts(), ElementsAre(refused));
    EXPECT_FALSE(model->errorMessage()) << "the poll loop never raises alerts";
}

TEST_F(Connecting, ReconnectsAcrossModeChangesAndSamplesOnlyInAppMode) {
    make({testBoard()});
    run(model->poll());
    run(model->poll());
    ASSERT_TRUE(model->snapshot());

    // Each pass comes after the board is back on the bus, so the connection is followed, not lost.
    restart(0, BoardMode::bootloader);
    QTest::qWait(60);
    run(model->poll());
    EXPECT_EQ(text(), "Bootloader 模式");
    EXPECT_FALSE(model->snapshot());
    EXPECT_FALSE(model->hasConfig());
    EXPECT_FALSE(model->canConfigure());
    run(model->poll());
    EXPECT_FALSE(model->snapshot()) << "a bootloader is not sampled";

    restart(0, BoardMode::app);
    QTest::qWait(60);
    run(model->poll());
    ASSERT_TRUE(model->connected());
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_TRUE(model->snapshot()) << "the reconnecting pass samples at once";
    EXPECT_EQ(model->selectedID().toStdString(), idOf());
}

TEST_F(Connecting, PrefersTheSelectedBoardAndStopsAfterADisconnect) {
    make({testBoard(), testBoard(0x01200000, "QM2")});
    model->setSelectedID(QString::fromStdString(idOf(0x01200000)));
    run(model->poll());
    EXPECT_EQ(model->connected()->serial, "QM2");

    run(model->disconnect());
    EXPECT_EQ(text(), "已断开");
    EXPECT_FALSE(model->autoConnect());
    run(model->poll());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(model->devices().size(), 2u) << "boards are still listed";
    EXPECT_EQ(text(), "已断开");

    run(model->connect());
    EXPECT_EQ(model->connected()->serial, "QM2");
    EXPECT_TRUE(model->autoConnect());
    EXPECT_FALSE(model->operation());
}

TEST_F(Connecting, AUserConnectThatFailsRaisesAnAlert) {
    make({testBoard()});
    run(model->connect()); // nothing selected: nothing happens
    EXPECT_THAT(logTexts(), IsEmpty());
    model->setSelectedID("location:1");
    run(model->connect());
    EXPECT_EQ(model->errorMessage(), QString("设备已断开"));
    EXPECT_THAT(logTexts(), ElementsAre("设备已断开"));
    EXPECT_EQ(text(), "正在查找设备") << "the next pass writes the status line";
    EXPECT_FALSE(model->operation());
}

TEST_F(Connecting, ABrokenHIDStackIsLoggedOnceWithItsReason) {
    struct Broken final : HIDPlatform {
        std::vector<HIDInterface> enumerate(std::uint16_t) override { return {}; }
        HIDOpenResult open(const HIDInterface&) override { return {nullptr, 19}; }
        std::optional<std::string> problem() const override { return "hid_init failed"; }
    } broken;
    makeOn(broken);
    for (int pass = 0; pass < 3; ++pass) {
        run(model->poll());
    }
    EXPECT_EQ(text(), "未连接 · 请接入 Quelmar USB");
    EXPECT_THAT(logTexts(), ElementsAre("HID 不可用：hid_init failed"));
    model->clearLogs();
    EXPECT_EQ(model->hidProblem(), "HID 不可用：hid_init failed") << "still shown while it lasts";
}

TEST_F(Connecting, DropsASampleWhenAWorkflowStartedMeanwhile) {
    auto slow = testBoard();
    slow.faults.delayMilliseconds = 40;
    make({slow, testBoard(0x01200000, "QM2")});
    model->setSelectedID(QString::fromStdString(idOf()));
    run(model->poll());
    model->setCapacity("3000");
    // The next pass lists one board less; while it then reads a sample, a battery write begins.
    unplug(1);
    QObject::connect(model.get(), &AppModel::devicesChanged, model.get(),
                     [this] { QTimer::singleShot(10, model.get(), [this] { model->writeConfig(); }); });
    run(model->poll());
    settle();
    EXPECT_FALSE(model->snapshot());
    EXPECT_THAT(logTexts(), ElementsAre("Quelmar DC UPS · 已连接 · 固件 1.0.8", "电池参数写入及读回验证通过"));
}

TEST_F(Connecting, ThePollLoopEndsWithTheController) {
    make({});
    model->start();
    ASSERT_TRUE(
        waitUntil([&] { return model->connectionText() == "未连接 · 请接入 Quelmar USB" && !model->checking(); }));
    ASSERT_TRUE(model->polling());
    EXPECT_EQ(logTexts().front(), "Quelmar 原生版 2.0.1");
    model->start(); // only the first call acts
    const auto texts = logTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Quelmar 原生版 2.0.1"), 1);
    // Destroyed at some point of the loop: it ends by itself without touching the controller again.
    QTimer::singleShot(7, [this] { model.reset(); });
    ASSERT_TRUE(waitUntil([&] { return model == nullptr; }));
    QTest::qWait(60);
}

TEST_F(Connecting, RaisesEachPowerChangeOnceAndRecordsSamplesAndEvents) {
    AppModel::Setup setup;
    setup.history = home / "history.sqlite";
    make({testBoard()}, std::move(setup));
    std::vector<PowerEvent> raised;
    QObject::connect(model.get(), &AppModel::powerEventRaised, [&](PowerEvent event) { raised.push_back(event); });
    run(model->poll()); // connects
    run(model->poll()); // on mains
    auto onBattery = platform->withBoard(0, [](EmulatedBoard& b) { return b.telemetry(); });
    onBattery.status = StatusBit::discharging | StatusBit::batteryLow;
    platform->withBoard(0, [&](EmulatedBoard& b) { b.setTelemetry(onBattery); });
    now += std::chrono::seconds(1);
    run(model->poll());
    now += std::chrono::seconds(1);
    run(model->poll()); // the same state again: nothing new
    unplug(0);
    run(model->poll());
    EXPECT_THAT(raised,
                ElementsAre(PowerEvent::connected, PowerEvent::mainsLost, PowerEvent::batteryLow, PowerEvent::lost));
    model.reset(); // writes what is queued
    HistoryStore store(home / "history.sqlite");
    const HistoryBoard board{idOf(), "QM1"};
    const auto day = std::chrono::floor<std::chrono::seconds>(now);
    EXPECT_EQ(store.samples(board, day - std::chrono::hours(1), day).size(), 3u);
    std::vector<HistoryEventKind> kinds;
    for (const auto& event : store.events(board, day - std::chrono::hours(1), day)) {
        kinds.push_back(event.kind);
    }
    EXPECT_THAT(kinds, ElementsAre(HistoryEventKind::boardConnected, HistoryEventKind::mainsLost,
                                   HistoryEventKind::batteryLowRaised, HistoryEventKind::boardLost));
}
