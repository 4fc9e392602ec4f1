#include "ControllerFixture.h"
#include "HexFixtures.h"
#include "core/CRC32.h"
#include "core/FirmwareImage.h"
#include "core/IAP.h"

#include <cstdio>
#include <functional>
#include <mutex>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const std::string appLine = "Quelmar DC UPS · 已连接 · 固件 1.0.8";
const std::string bootLine = "Quelmar DC UPS · Bootloader 模式 · 固件 未知";
constexpr std::uint32_t appStart = 0x08003000;

class Firmware : public ControllerTest {
protected:
    std::filesystem::path hexFile(const std::vector<std::uint8_t>& bytes, const std::string& name = "app.hex") {
        writeFile(home / name, intelHex(appStart, bytes));
        return home / name;
    }
    void choose(const std::filesystem::path& file) {
        dialogs.fileToOpen = file;
        model->chooseFirmware();
    }
    // The number of packets a flash of these bytes sends.
    static std::size_t packetsFor(const std::vector<std::uint8_t>& bytes) {
        std::size_t count = 0;
        IAP::flash(
            FirmwareImage(intelHex(appStart, bytes)), [&](std::uint8_t, ByteView, bool) { ++count; },
            [](double, const std::string&) {});
        return count;
    }
    BoardDescription bootBoard(std::int64_t location = 0x01100000, std::string serial = "QM1") {
        auto board = testBoard(location, std::move(serial));
        board.bootloader = true;
        return board;
    }
};

} // namespace

TEST_F(Firmware, UpgradesFromAppModeAndComesBackUnderTheSameID) {
    make({testBoard()});
    run(model->poll());
    const auto bytes = patternBytes(1000);
    choose(hexFile(bytes));
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", CRC32::compute(bytes));
    EXPECT_EQ(model->firmwareName(), "app.hex");
    EXPECT_EQ(model->firmwareBytes(), 1000);
    EXPECT_EQ(logTexts().back(), std::string("APP HEX 已验证：1000 字节，CRC32 ") + crc);

    run(model->enterBootloader());
    ASSERT_TRUE(model->connected());
    EXPECT_TRUE(model->connected()->bootloader);
    EXPECT_EQ(model->connectionText(), "Bootloader 模式");

    std::vector<double> fractions;
    std::vector<bool> flashing;
    QObject::connect(model.get(), &AppModel::progressChanged, [&] { fractions.push_back(model->progress()); });
    QObject::connect(model.get(), &AppModel::flashingChanged, [&] { flashing.push_back(model->flashing()); });
    run(model->flash());
    EXPECT_THAT(flashing, ElementsAre(true, false));
    ASSERT_GT(fractions.size(), 10u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(model->progress(), 1.0) << "the last value reported is the last one shown";
    EXPECT_EQ(model->connected(), (DeviceChoice{idOf(), "Quelmar DC UPS", "QM1", false}));
    EXPECT_EQ(storedImage(0), Bytes(bytes.begin(), bytes.end()));
    EXPECT_TRUE(model->image()) << "the image stays chosen";
    EXPECT_THAT(dialogs.confirmations,
                ElementsAre(std::tuple("进入固件升级模式？", "设备会重启进入 Bootloader。此步骤不会写入固件。", "进入"),
                            std::tuple("写入 APP 固件？",
                                       "目标：Quelmar DC UPS QM1\n文件：app.hex\n请确认固件适用于当前板子。"
                                       "过程中请勿拔出 USB 或退出应用。",
                                       "开始烧录")));
    const auto texts = logTexts();
    EXPECT_THAT(std::vector(texts.end() - 4, texts.end()),
                ElementsAre(bootLine, "固件写入、读回校验及 CRC 写入完成", appLine, "设备已恢复 APP 模式"));
    EXPECT_FALSE(model->errorMessage());
}

TEST_F(Firmware, KeepsAnImageToTheBoardItWasChosenFor) {
    make({testBoard(), bootBoard(0x01200000, "QM2")});
    model->setSelectedID(QString::fromStdString(idOf()));
    run(model->poll());
    choose(hexFile(patternBytes(100)));
    model->setSelectedID(QString::fromStdString(idOf(0x01200000)));
    run(model->connect());
    ASSERT_TRUE(model->connected()->bootloader);
    run(model->flash());
    EXPECT_EQ(model->errorMessage(), QString("目标设备已变化，请重新选择适用固件"));
    EXPECT_THAT(dialogs.confirmations, IsEmpty());
    EXPECT_THAT(packets(1), IsEmpty());

    // Chosen with no board connected, it may go to any board.
    run(model->disconnect());
    choose(hexFile(patternBytes(100)));
    EXPECT_FALSE(model->imageDeviceID());
    run(model->connect());
    run(model->flash());
    EXPECT_EQ(model->connected()->id, idOf(0x01200000));
    EXPECT_FALSE(model->connected()->bootloader);
}

TEST_F(Firmware, DecliningChangesNothingAndWrongModesDoNothing) {
    make({testBoard()});
    run(model->poll());
    run(model->runApp()); // in APP mode: nothing
    run(model->flash());  // no image, APP mode: nothing
    dialogs.answers = {false};
    run(model->enterBootloader());
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_EQ(mode(0), BoardMode::app);

    run(model->enterBootloader());
    choose(hexFile(patternBytes(100)));
    dialogs.answers = {false};
    run(model->flash());
    EXPECT_THAT(packets(0), IsEmpty());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(dialogs.confirmations.size(), 3u);

    run(model->runApp()); // no confirmation; back to APP, nothing logged on success
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_EQ(dialogs.confirmations.size(), 3u);
    EXPECT_EQ(logTexts().back(), appLine);
}

TEST_F(Firmware, ABoardThatNeverComesBackIsNotReplacedByAnother) {
    const auto bytes = patternBytes(200);
    auto leaving = bootBoard();
    leaving.faults.vanishAfter = packetsFor(bytes); // gone for good once told to start the new image
    make({leaving, testBoard(0x01200000, "QM2")});
    model->setSelectedID(QString::fromStdString(idOf()));
    run(model->poll());
    choose(hexFile(bytes));
    run(model->flash());
    const std::string message = "设备未在 15 秒内重连，请检查 USB；不会选择其它设备";
    EXPECT_EQ(model->errorMessage(), QString::fromStdString(message));
    EXPECT_FALSE(model->connected());
    EXPECT_FALSE(model->operation());
    EXPECT_EQ(platform->withBoard(1, [](EmulatedBoard& board) { return board.openCount(); }), 0u)
        << "the other board is never opened";
    const auto texts = logTexts();
    EXPECT_THAT(std::vector(texts.end() - 2, texts.end()), ElementsAre("固件写入、读回校验及 CRC 写入完成", message));
}

namespace {

// The HID access of a second client on the same bus: passes everything on and notes the product ID of every interface
// it opens (3: a board in bootloader mode).
class OpenLog final : public HIDPlatform {
public:
    explicit OpenLog(HIDPlatform& bus)
        : bus_(bus) {}

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override { return bus_.enumerate(vendorID); }
    HIDOpenResult open(const HIDInterface& interface) override {
        std::lock_guard lock(mutex_);
        productIDs_.push_back(interface.productID.value_or(0));
        return bus_.open(interface);
    }
    std::vector<std::int64_t> productIDs() const {
        std::lock_guard lock(mutex_);
        return productIDs_;
    }

private:
    HIDPlatform& bus_;
    mutable std::mutex mutex_;
    std::vector<std::int64_t> productIDs_;
};

} // namespace

// The headless monitor (a read-only controller) polls the board while the window's controller upgrades it: the
// upgrade succeeds, and the monitor never opens the board in bootloader mode, only again once it is back in APP mode.
TEST_F(Firmware, AFullUpgradeSucceedsWhileAReadOnlyMonitorPollsTheSameBoard) {
    make({testBoard()});
    OpenLog monitorBus(*platform);
    ScriptedDialogs monitorDialogs;
    AppModel::Setup setup;
    setup.platform = &monitorBus;
    setup.dialogs = &monitorDialogs;
    setup.readOnly = true;
    setup.updates.directory = home / "monitor-updates";
    setup.timing.pollPause = std::chrono::milliseconds(5);
    setup.version = "2.0.1";
    AppModel monitor(std::move(setup));
    std::vector<PowerEvent> seen;
    QObject::connect(&monitor, &AppModel::powerEventRaised, [&](PowerEvent e) { seen.push_back(e); });
    monitor.start();
    ASSERT_TRUE(waitUntil([&] { return monitor.snapshot().has_value(); }));

    run(model->poll());
    const auto bytes = patternBytes(FirmwareImage::areaSize);
    choose(hexFile(bytes));
    run(model->enterBootloader());
    ASSERT_TRUE(model->connected()->bootloader);
    ASSERT_TRUE(waitUntil([&] { return monitor.connectionText() == "Bootloader 模式"; }));
    run(model->flash());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_EQ(storedImage(0), Bytes(bytes.begin(), bytes.end()));

    ASSERT_TRUE(waitUntil([&] { return monitor.snapshot().has_value(); }));
    monitor.stopPolling();
    ASSERT_TRUE(waitUntil([&] { return !monitor.polling(); }));
    const auto opened = monitorBus.productIDs();
    EXPECT_THAT(opened, testing::Each(2)) << "opened a board in bootloader mode";
    EXPECT_GE(opened.size(), 4u) << "both interfaces, before the upgrade and after";
    EXPECT_THAT(seen, ElementsAre(PowerEvent::connected, PowerEvent::lost, PowerEvent::connected));
    EXPECT_FALSE(monitor.operation());
}
