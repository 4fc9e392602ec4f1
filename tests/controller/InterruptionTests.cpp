// The controller when the world changes under it: a dialog left open while boards come and go, a workflow asked for
// while another runs, failures of the poll loop itself, signals during a flash.
#include "ControllerFixture.h"
#include "HexFixtures.h"
#include "controller/QuitSignals.h"

#include <csignal>
#include <functional>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::Contains;
using testing::IsEmpty;
using testing::Not;

namespace {

constexpr std::int64_t boardA = 0x01100000;
constexpr std::int64_t boardB = 0x01200000;

BoardDescription board(std::int64_t location, std::string serial, bool bootloader) {
    auto description = testBoard(location, std::move(serial));
    description.bootloader = bootloader;
    return description;
}

// A workflow that asks before it acts, and what acting would have left on board B.
struct Asking {
    std::string name;
    bool bootloader; // both boards start in this mode
    std::function<QCoro::Task<>(AppModel&)> start;
    std::function<bool(EmulatedBoard&)> actedOn;
};

class ADialogLeftOpen : public ControllerTest, public testing::WithParamInterface<Asking> {};

} // namespace

// With A connected, A is unplugged while the question is open and the poll loop connects B, now the only board.
// The answer was about A: nothing reaches B.
TEST_P(ADialogLeftOpen, IsNotActedOnWhenAnotherBoardWasConnectedMeanwhile) {
    make({board(boardA, "QM1", GetParam().bootloader), board(boardB, "QM2", GetParam().bootloader)});
    model->setSelectedID(QString::fromStdString(idOf(boardA)));
    run(model->poll());
    ASSERT_EQ(model->connected()->id, idOf(boardA));
    writeFile(home / "app.hex", intelHex(0x08003000, patternBytes(300)));
    dialogs.fileToOpen = home / "app.hex";
    model->chooseFirmware();
    model->setCapacity("3000");

    dialogs.whileOpen = [this] {
        unplug(0);
        run(model->poll()); // A is gone
        run(model->poll()); // B is the only board
    };
    run(GetParam().start(*model));
    ASSERT_EQ(dialogs.confirmations.size(), 1u);
    ASSERT_TRUE(model->connected());
    EXPECT_EQ(model->connected()->id, idOf(boardB));
    EXPECT_FALSE(platform->withBoard(1, GetParam().actedOn));
    EXPECT_FALSE(model->operation());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_THAT(logTexts(), Not(Contains("电池参数写入及读回验证通过")));
}

INSTANTIATE_TEST_SUITE_P(Workflows, ADialogLeftOpen,
                         testing::Values(Asking{"WriteConfig", false, [](AppModel& m) { return m.writeConfig(); },
                                                [](EmulatedBoard& b) { return b.storedConfig().capacity != 2600; }},
                                         Asking{"EnterBootloader", false,
                                                [](AppModel& m) { return m.enterBootloader(); },
                                                [](EmulatedBoard& b) { return b.mode() != BoardMode::app; }},
                                         Asking{"Flash", true, [](AppModel& m) { return m.flash(); },
                                                [](EmulatedBoard& b) { return !b.packetsReceived().empty(); }}),
                         [](const testing::TestParamInfo<Asking>& param) { return param.param.name; });

TEST_F(ControllerTest, WorkflowsAskedForWhileAnotherRunsDoNothing) {
    auto slow = board(boardA, "QM1", false);
    slow.restartMilliseconds = 300;
    make({slow});
    run(model->poll());
    writeFile(home / "app.hex", intelHex(0x08003000, patternBytes(100)));
    auto entering = model->enterBootloader();
    ASSERT_EQ(model->operation(), "进入 Bootloader");
    const auto asked = dialogs.confirmations.size();
    dialogs.fileToOpen = home / "app.hex";
    model->chooseFirmware();
    model->setCapacity("3000");
    run(model->writeConfig());
    run(model->runApp());
    run(model->flash());
    run(model->connect());
    run(model->disconnect());
    run(model->downloadFirmware());
    run(model->updateClicked());
    run(model->checkUpdates(true));
    EXPECT_EQ(model->operation(), "进入 Bootloader");
    EXPECT_EQ(dialogs.confirmations.size(), asked);
    EXPECT_THAT(dialogs.asked, IsEmpty()) << "not even a file panel";
    EXPECT_FALSE(model->checking());
    run(std::move(entering));
    EXPECT_TRUE(model->connected()->bootloader);
}

TEST_F(ControllerTest, AFailedModeSwitchForgetsTheBoardAndSaysWhy) {
    auto app = board(boardA, "QM1", false);
    app.faults.setStatus = {{5, 32}};
    auto boot = board(boardB, "QM2", true);
    boot.faults.setStatus = {{1, 32}};
    make({app, boot});
    model->setSelectedID(QString::fromStdString(idOf(boardA)));
    run(model->poll());
    run(model->enterBootloader());
    EXPECT_EQ(model->errorMessage(), "写入 USB Report 5 失败：0x00000020");
    EXPECT_FALSE(model->connected());
    EXPECT_FALSE(model->operation());

    model->setSelectedID(QString::fromStdString(idOf(boardB)));
    run(model->connect());
    ASSERT_TRUE(model->connected()->bootloader);
    run(model->runApp());
    EXPECT_EQ(model->errorMessage(), "写入 USB Report 1 失败：0x00000020");
    EXPECT_EQ(logTexts().back(), "写入 USB Report 1 失败：0x00000020");
    EXPECT_FALSE(model->connected());
    EXPECT_FALSE(model->operation());
}

TEST_F(ControllerTest, ThePollLoopOutlivesAFailedPass) {
    bool failing = false;
    clockHook = [&] {
        if (std::exchange(failing, false)) {
            throw std::runtime_error("时钟不可用");
        }
    };
    make({testBoard()});
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->snapshot().has_value(); }));
    failing = true;
    ASSERT_TRUE(waitUntil([&] { return !logTexts().empty() && logTexts().back() == "时钟不可用"; }))
        << testing::PrintToString(logTexts());
    unplug(0);
    EXPECT_TRUE(waitUntil([&] { return model->connectionText() == "USB 已断开，等待重新连接"; }))
        << "the loop goes on after the failure";
    EXPECT_TRUE(model->polling());
    settle();
    EXPECT_FALSE(model->polling());
}

TEST_F(ControllerTest, ASignalDuringAFlashWaitsUntilTheImageIsWrittenAndVerified) {
    auto slow = board(boardA, "QM1", true);
    slow.faults.delayMilliseconds = 1;
    make({slow});
    run(model->poll());
    writeFile(home / "app.hex", intelHex(0x08003000, patternBytes(3000)));
    dialogs.fileToOpen = home / "app.hex";
    model->chooseFirmware();
    dialogs.asked.clear();
    QuitSignals signals_;
    QObject::connect(&signals_, &QuitSignals::received, model.get(), &AppModel::quitWhenSafe);
    auto flashing = model->flash();
    ASSERT_TRUE(waitUntil([&] { return model->progress() > 0.1; }));
    ::raise(SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return logTexts().back() == "收到 SIGTERM：固件写入和校验完成后退出"; }));
    EXPECT_THAT(dialogs.asked, IsEmpty());
    run(std::move(flashing));
    EXPECT_FALSE(model->connected()->bootloader) << "written, verified and back in APP mode";
    EXPECT_TRUE(waitUntil([&] { return dialogs.asked == std::vector<std::string>{"quit"}; }));

    ::raise(SIGINT); // outside a flash: at once
    EXPECT_TRUE(waitUntil([&] { return dialogs.asked.size() == 2; }));
}

TEST_F(ControllerTest, DeniedAccessIsToldApartFromABusyBoard) {
    auto locked = testBoard();
    locked.faults.openStatus = 13; // EACCES: no udev rule
    make({locked});
    run(model->poll());
    EXPECT_EQ(model->connectionText(), "USB 打开失败：0x0000000d，请关闭占用设备的其他客户端");
    EXPECT_TRUE(model->accessDenied());
    unplug(0);
    run(model->poll());
    EXPECT_FALSE(model->accessDenied()) << "no board, nothing denied";
}
