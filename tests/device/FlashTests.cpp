#include "Boards.h"
#include "HexFixtures.h"
#include "Matchers.h"
#include "core/CRC32.h"
#include "core/FirmwareImage.h"
#include "device/HIDSession.h"

#include <chrono>
#include <functional>
#include <ostream>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::DoubleEq;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::FieldsAre;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

const std::string boardID = "location:17825792";
const std::string done = "写入与校验完成，等待设备重连";
const std::string timedOut = "Bootloader 应答超时；已停止烧录，请重新连接后重试";
// Long enough for an emulated board that answers at once, short enough to wait out in every test.
constexpr std::chrono::milliseconds shortDeadline{100};

// 62 bytes: two packets per pass, 7 in all (open, write ×2, verify ×2, seal, finish).
const Bytes& smallImage() {
    static const Bytes bytes = patternBytes(62);
    return bytes;
}

FirmwareImage imageOf(const Bytes& bytes) {
    return FirmwareImage(intelHex(static_cast<std::uint32_t>(FirmwareImage::start), bytes));
}

BoardDescription bootloaderBoard(const std::function<void(BoardFaults&)>& faults = {}) {
    auto b = board();
    b.bootloader = true;
    b.image = {0xA5};
    if (faults) {
        faults(b.faults);
    }
    return b;
}

struct Flashing {
    explicit Flashing(BoardDescription b = bootloaderBoard(),
                      std::chrono::milliseconds replyDeadline = HIDSession::defaultReplyDeadline)
        : platform({std::move(b)}, clock.function())
        , session(platform, replyDeadline) {
        session.connect(boardID);
    }

    void flash(const FirmwareImage& image) {
        session.flash(image, [&](double fraction, const std::string& text) { progress.emplace_back(fraction, text); });
    }

    std::vector<Bytes> packets() { return platform.withBoard(0, &EmulatedBoard::packetsReceived); }
    Bytes storedImage() { return platform.withBoard(0, &EmulatedBoard::storedImage); }

    std::vector<std::uint8_t> codes() {
        std::vector<std::uint8_t> out;
        for (const auto& packet : packets()) {
            out.push_back(packet[1]);
        }
        return out;
    }

    std::optional<USBDevice> afterRestart() {
        clock.advance(std::chrono::milliseconds(500));
        const auto devices = HIDSession::discover(platform);
        return devices.empty() ? std::nullopt : std::optional(devices[0]);
    }

    ManualClock clock;
    EmulatedPlatform platform;
    HIDSession session;
    std::vector<std::pair<double, std::string>> progress;
};

namespace code = IAP::Code;

} // namespace

TEST(Flash, FullAreaImageMadeByObjcopyIsStoredByteForByte) {
    TemporaryDirectory directory;
    const auto binary = patternBytes(44'928, 7);
    writeFile(directory / "app.bin", binary);
    objcopyHex(directory / "app.bin", 0x08003000, directory / "app.hex");
    const FirmwareImage image(readFile(directory / "app.hex"));

    Flashing f;
    EXPECT_NO_THROW(f.flash(image));
    EXPECT_EQ(f.storedImage(), binary);
    EXPECT_THAT(f.packets(), SizeIs(1 + 737 + 737 + 1 + 1));
    EXPECT_THAT(f.progress, SizeIs(737 + 737 + 1));
    EXPECT_THAT(f.progress.back(), FieldsAre(1.0, done));
    EXPECT_FALSE(f.session.device()); // closed: the board restarts

    const auto back = f.afterRestart();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, boardID);
    EXPECT_FALSE(back->bootloader);
}

TEST(Flash, SixtyTwoByteSequenceEndToEnd) {
    const auto& bytes = smallImage();
    Flashing f;
    ASSERT_NO_THROW(f.flash(imageOf(bytes)));

    const auto& packets = f.packets();
    ASSERT_THAT(packets, SizeIs(7));
    for (const auto& packet : packets) {
        EXPECT_THAT(packet, SizeIs(64));
    }
    const auto header = [&](std::size_t i) { return Bytes(packets[i].begin(), packets[i].begin() + 3); };
    const auto payload = [&](std::size_t i) { return Bytes(packets[i].begin() + 3, packets[i].end()); };
    const auto chunk = [&](std::size_t from, std::size_t count) {
        Bytes out(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                  bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
        out.resize(61, 0x00);
        return out;
    };
    const auto crc = CRC32::compute(bytes);
    // clang-format off
    EXPECT_THAT(header(0), ElementsAre(0x01, 0x81, 0x00)); // open
    EXPECT_THAT(header(1), ElementsAre(0x01, 0x80, 0x3D)); // write, 61 bytes
    EXPECT_THAT(header(2), ElementsAre(0x01, 0x80, 0x01)); // write, 1 byte
    EXPECT_THAT(header(3), ElementsAre(0x01, 0x82, 0x3D)); // verify, 61 bytes
    EXPECT_THAT(header(4), ElementsAre(0x01, 0x82, 0x01)); // verify, 1 byte
    EXPECT_THAT(Bytes(packets[5].begin(), packets[5].begin() + 11), ElementsAre(
        0x01, 0x84, 0x08,                   // seal, 8 bytes
        0x3E, 0x00, 0x00, 0x00,             // length 62
        crc & 0xFF, (crc >> 8) & 0xFF, (crc >> 16) & 0xFF, crc >> 24)); // CRC-32
    EXPECT_THAT(header(6), ElementsAre(0x01, 0x83, 0x00)); // finish
    // clang-format on
    EXPECT_EQ(payload(0), Bytes(61, 0x00));
    EXPECT_EQ(payload(1), chunk(0, 61));
    EXPECT_EQ(payload(2), chunk(61, 1));
    EXPECT_EQ(payload(3), chunk(0, 61));
    EXPECT_EQ(payload(4), chunk(61, 1));
    EXPECT_EQ(payload(6), Bytes(61, 0x00));

    EXPECT_THAT(f.progress, ElementsAre(FieldsAre(DoubleEq(61.0 / 62 * 0.5), "写入固件"), FieldsAre(0.5, "写入固件"),
                                        FieldsAre(DoubleEq(0.5 + 61.0 / 62 * 0.5), "读回校验"),
                                        FieldsAre(1.0, "读回校验"), FieldsAre(1.0, done)));
    EXPECT_EQ(f.storedImage(), bytes);
    EXPECT_FALSE(f.session.device());
}

TEST(Flash, SucceedsOverASlowLink) {
    Flashing f(bootloaderBoard([](BoardFaults& faults) { faults.delayMilliseconds = 3; }));
    EXPECT_NO_THROW(f.flash(imageOf(smallImage())));
    EXPECT_EQ(f.storedImage(), smallImage());
}

TEST(Flash, RefusedOutsideBootloaderModeBeforeAnythingIsSent) {
    // An APP board would stall an output report 1, so a packet sent would change the message.
    Flashing app(board());
    EXPECT_THAT([&] { app.flash(imageOf(smallImage())); }, ThrowsUPSError("请先进入 Bootloader 模式"));
    EXPECT_TRUE(app.session.device());
    EXPECT_THAT(app.progress, IsEmpty());

    Flashing closed;
    closed.session.close();
    EXPECT_THAT([&] { closed.flash(imageOf(smallImage())); }, ThrowsUPSError("请先进入 Bootloader 模式"));
    EXPECT_THAT(closed.packets(), IsEmpty());
}

TEST(Flash, ForeignShortAndStaleRepliesAreIgnored) {
    Flashing f(bootloaderBoard([](BoardFaults& faults) {
        // Ahead of the answer to the first write: another report ID, a report of one byte (its byte 1 would
        // still hold the 5 of the report before), a byte 0 that is not 1.
        faults.sendBefore[2] = {{0x02, 0x05}, {0x01}, {0x00, 0x05}};
        // Behind the answer to open and to the first verify: late duplicates with a failure status.
        faults.sendAfter[1] = {{0x01, 0x09}};
        faults.sendAfter[4] = {{0x01, 0x09}, {0x01, 0x0A}};
    }));
    EXPECT_NO_THROW(f.flash(imageOf(smallImage())));
    EXPECT_EQ(f.storedImage(), smallImage());
}

TEST(Flash, ReplyToFinishIsNotAwaited) {
    Flashing f(bootloaderBoard([](BoardFaults& faults) { faults.replyStatus[7] = 5; }));
    EXPECT_NO_THROW(f.flash(imageOf(smallImage())));
    EXPECT_FALSE(f.session.device());
}

TEST(Flash, NextAttemptStartsANewSequenceAndIgnoresTheLateReplyOfTheLast) {
    Flashing f(bootloaderBoard([](BoardFaults& faults) {
        faults.replyStatus[2] = 7;
        faults.sendAfter[2] = {{0x01, 0x09}};
    }));
    EXPECT_THAT([&] { f.flash(imageOf(smallImage())); }, ThrowsUPSError("Bootloader 返回错误：7"));
    ASSERT_TRUE(f.session.device());
    EXPECT_NO_THROW(f.flash(imageOf(smallImage())));
    EXPECT_THAT(f.codes(), ElementsAre(code::open, code::write, code::open, code::write, code::write, code::verify,
                                       code::verify, code::seal, code::finish));
    EXPECT_EQ(f.storedImage(), smallImage());
}

struct FailureCase {
    const char* name;
    std::function<void(BoardFaults&)> fault;
    std::string message;
    std::vector<std::uint8_t> sent; // what the board received, in order
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class FlashFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(FlashFailure, StopsTheSequenceAndLeavesTheSessionOpen) {
    Flashing f(bootloaderBoard(GetParam().fault));
    EXPECT_THAT([&] { f.flash(imageOf(smallImage())); }, ThrowsUPSError(GetParam().message));
    EXPECT_THAT(f.codes(), ElementsAreArray(GetParam().sent));
    EXPECT_TRUE(f.session.device());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlashFailure,
    testing::Values(
        FailureCase{
            "SetReportFails", [](BoardFaults& f) { f.setStatus[1] = 71; }, "写入 USB Report 1 失败：0x00000047", {}},
        FailureCase{
            "StatusAtOpen", [](BoardFaults& f) { f.replyStatus[1] = 5; }, "Bootloader 返回错误：5", {code::open}},
        FailureCase{"StatusInDecimal",
                    [](BoardFaults& f) { f.replyStatus[2] = 200; },
                    "Bootloader 返回错误：200",
                    {code::open, code::write}},
        FailureCase{"StatusAtVerify",
                    [](BoardFaults& f) { f.replyStatus[5] = 1; },
                    "Bootloader 返回错误：1",
                    {code::open, code::write, code::write, code::verify, code::verify}},
        FailureCase{"StatusAtSeal",
                    [](BoardFaults& f) { f.replyStatus[6] = 10; },
                    "Bootloader 返回错误：10",
                    {code::open, code::write, code::write, code::verify, code::verify, code::seal}},
        FailureCase{"BoardVanishesAfterAnAnswer",
                    [](BoardFaults& f) { f.vanishAfter = 3; },
                    "写入 USB Report 1 失败：0x00000013",
                    {code::open, code::write, code::write}}),
    [](const auto& test) { return test.param.name; });

// Each of these waits out the reply deadline, shortened.
class FlashTimeout : public FlashFailure {};

TEST_P(FlashTimeout, StopsTheSequenceAndLeavesTheSessionOpen) {
    Flashing f(bootloaderBoard(GetParam().fault), shortDeadline);
    EXPECT_THAT([&] { f.flash(imageOf(smallImage())); }, ThrowsUPSError(GetParam().message));
    EXPECT_THAT(f.codes(), ElementsAreArray(GetParam().sent));
    EXPECT_TRUE(f.session.device());
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashTimeout,
                         testing::Values(FailureCase{"DroppedReply",
                                                     [](BoardFaults& f) { f.dropReply = 4; },
                                                     timedOut,
                                                     {code::open, code::write, code::write, code::verify}},
                                         FailureCase{"OnlyForeignAndShortReports",
                                                     [](BoardFaults& f) {
                                                         f.dropReply = 2;
                                                         f.sendBefore[2] = {{0x02, 0x00}, {0x01}, {0x00, 0x00}};
                                                     },
                                                     timedOut,
                                                     {code::open, code::write}},
                                         FailureCase{"BoardVanishesWithoutAnswering",
                                                     [](BoardFaults& f) {
                                                         f.vanishAfter = 6;
                                                         f.dropReply = 6;
                                                     },
                                                     timedOut,
                                                     {code::open, code::write, code::write, code::verify, code::verify,
                                                      code::seal}}),
                         [](const auto& test) { return test.param.name; });

TEST(Flash, DeadlineIsTakenAfterTheSendReturned) {
    // The send takes 150 ms and the answer 150 ms more: 300 ms in all, but only 150 ms after the send.
    Flashing f(bootloaderBoard([](BoardFaults& faults) {
        faults.delayMilliseconds = 150;
        faults.replyStatus[1] = 5;
    }));
    f.session.setReplyDeadline(std::chrono::milliseconds(250));
    EXPECT_THAT([&] { f.flash(imageOf(smallImage())); }, ThrowsUPSError("Bootloader 返回错误：5"));
}

TEST(FlashSlow, UnansweredPacketTimesOutAfterTheWrittenThreeSeconds) {
    Flashing f(bootloaderBoard([](BoardFaults& faults) { faults.dropReply = 4; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT([&] { f.flash(imageOf(smallImage())); }, ThrowsUPSError(timedOut));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_THAT(f.codes(), ElementsAre(code::open, code::write, code::write, code::verify));
    EXPECT_TRUE(f.session.device());
}
