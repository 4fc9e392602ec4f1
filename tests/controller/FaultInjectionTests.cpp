// Faults of a board, injected where a real one fails, driven through the controller: whatever goes wrong, the
// workflow ends with the exact message, the session closed and nothing left running, and the board can be flashed
// afterwards.
#include "ControllerFixture.h"
#include "HexFixtures.h"
#include "core/IAP.h"

#include <functional>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

constexpr std::uint32_t appStart = 0x08003000;

// Where each kind of packet falls in the sequence that flashes a full-area image, counted from 1.
struct Positions {
    std::size_t firstWrite = 0, middleWrite = 0, lastWrite = 0, firstVerify = 0, lastVerify = 0, seal = 0;
};

Positions positionsOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> codes;
    IAP::flash(
        FirmwareImage(intelHex(appStart, bytes)), [&](std::uint8_t code, ByteView, bool) { codes.push_back(code); },
        [](double, const std::string&) {});
    Positions at;
    std::vector<std::size_t> writes, verifies;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == 0x80) {
            writes.push_back(i + 1);
        } else if (codes[i] == 0x82) {
            verifies.push_back(i + 1);
        } else if (codes[i] == 0x84) {
            at.seal = i + 1;
        }
    }
    at = {writes.front(), writes[writes.size() / 2], writes.back(), verifies.front(), verifies.back(), at.seal};
    return at;
}

struct Injection {
    std::string name;
    std::function<void(BoardFaults&, const Positions&)> inject;
    std::string message;
};

const std::string vanished = "写入 USB Report 1 失败：0x00000013";
const std::string unanswered = "Bootloader 应答超时；已停止烧录，请重新连接后重试";
const std::string refused = "Bootloader 返回错误：7";

std::vector<Injection> injections() {
    using P = std::size_t Positions::*;
    const std::vector<std::pair<std::string, P>> places = {
        {"FirstWrite", &Positions::firstWrite}, {"MiddleWrite", &Positions::middleWrite},
        {"LastWrite", &Positions::lastWrite},   {"FirstVerify", &Positions::firstVerify},
        {"LastVerify", &Positions::lastVerify}, {"Seal", &Positions::seal}};
    std::vector<Injection> all;
    for (const auto& [name, place] : places) {
        all.push_back({"VanishesAfter" + name,
                       [place](BoardFaults& f, const Positions& at) { f.vanishAfter = at.*place; }, vanished});
        all.push_back({"DropsTheReplyTo" + name,
                       [place](BoardFaults& f, const Positions& at) { f.dropReply = at.*place; }, unanswered});
    }
    // A bad status at each command that is answered.
    all.push_back({"RefusesTheStart", [](BoardFaults& f, const Positions&) { f.replyStatus = {{1, 7}}; }, refused});
    all.push_back({"RefusesAWrite",
                   [](BoardFaults& f, const Positions& at) {
                       f.replyStatus = {{at.firstWrite, 7}};
                   },
                   refused});
    all.push_back({"RefusesAVerify",
                   [](BoardFaults& f, const Positions& at) {
                       f.replyStatus = {{at.lastVerify, 7}};
                   },
                   refused});
    all.push_back({"RefusesTheSeal",
                   [](BoardFaults& f, const Positions& at) {
                       f.replyStatus = {{at.seal, 7}};
                   },
                   refused});
    return all;
}

class AFullAreaFlash : public ControllerTest, public testing::WithParamInterface<Injection> {};

} // namespace

TEST_P(AFullAreaFlash, EndsWithTheMessageAndTheSessionClosedAndALaterFlashSucceeds) {
    const auto bytes = patternBytes(FirmwareImage::areaSize);
    auto board = testBoard();
    board.bootloader = true;
    GetParam().inject(board.faults, positionsOf(bytes));
    make({board});
    run(model->poll());
    writeFile(home / "app.hex", intelHex(appStart, bytes));
    dialogs.fileToOpen = home / "app.hex";
    model->chooseFirmware();
    run(model->flash());
    EXPECT_EQ(model->errorMessage(), QString::fromStdString(GetParam().message));
    EXPECT_EQ(logTexts().back(), GetParam().message);
    EXPECT_FALSE(model->operation());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(platform->withBoard(0, [](EmulatedBoard& b) { return b.openHandles(); }), 0u) << "session closed";

    // Plugged in again, without the fault: flashed and back in APP mode with exactly the image.
    platform->withBoard(0, [](EmulatedBoard& b) {
        b.setFaults({});
        b.restartInto(BoardMode::bootloader);
    });
    model->setErrorMessage(std::nullopt);
    ASSERT_TRUE(waitUntil([&] {
        run(model->poll());
        return model->connected().has_value();
    }));
    run(model->flash());
    EXPECT_FALSE(model->errorMessage());
    ASSERT_TRUE(model->connected());
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_EQ(storedImage(0), Bytes(bytes.begin(), bytes.end()));
}

INSTANTIATE_TEST_SUITE_P(Faults, AFullAreaFlash, testing::ValuesIn(injections()),
                         [](const testing::TestParamInfo<Injection>& param) { return param.param.name; });

TEST_F(ControllerTest, OpenAndReadFailuresLeaveNoHandleOpen) {
    auto busy = testBoard(0x01100000, "QM1");
    busy.faults.openStatus = 16; // EBUSY, and only on the second interface: the first is closed again
    busy.faults.openFailsOn = InterfaceRole::power;
    auto mute = testBoard(0x01200000, "QM2");
    mute.faults.getStatus = {{8, 32}};
    make({busy, mute});
    model->setSelectedID(QString::fromStdString(idOf(0x01100000)));
    run(model->connect());
    EXPECT_EQ(model->errorMessage(), "USB 打开失败：0x00000010，请关闭占用设备的其他客户端");
    EXPECT_FALSE(model->accessDenied());
    EXPECT_EQ(platform->withBoard(0, [](EmulatedBoard& b) { return b.openHandles(); }), 0u);

    model->setSelectedID(QString::fromStdString(idOf(0x01200000)));
    run(model->connect());
    ASSERT_TRUE(model->connected());
    run(model->poll()); // its sample cannot be read
    EXPECT_EQ(model->connectionText(), "读取 Report 8 失败：0x00000020");
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(platform->withBoard(1, [](EmulatedBoard& b) { return b.openHandles(); }), 0u);
}

TEST_F(ControllerTest, ABoardThatComesBackElsewhereIsNotTakenForItself) {
    make({testBoard()});
    run(model->poll());
    const auto opened = platform->withBoard(0, [](EmulatedBoard& b) { return b.openCount(); });
    platform->withBoard(0, [](EmulatedBoard& b) { b.moveTo(0x01300000); }); // from its restart on
    run(model->enterBootloader());
    EXPECT_EQ(model->errorMessage(), "设备未在 15 秒内重连，请检查 USB；不会选择其它设备");
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(platform->withBoard(0, [](EmulatedBoard& b) { return b.openCount(); }), opened);
}
