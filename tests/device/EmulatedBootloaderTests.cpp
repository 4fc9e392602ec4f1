#include "Boards.h"
#include "HexFixtures.h"
#include "core/CRC32.h"
#include "core/IAP.h"
#include "core/Report.h"
#include "device/HIDSession.h"
#include "device/emulator/EmulatedBootloader.h"

#include <cerrno>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

const std::string boardID = "location:17825792";

BoardDescription bootloaderBoard() {
    auto b = board();
    b.bootloader = true;
    b.image = {0xA5, 0x5A};
    return b;
}

struct Bootloader {
    explicit Bootloader(BoardDescription b = bootloaderBoard())
        : platform({std::move(b)}, clock.function())
        , session(platform) {
        session.connect(boardID);
    }

    // Sends a packet and returns the status it is answered with; -1 when no answer came.
    int exchange(ByteView packet) {
        session.set(packet, ReportType::output);
        std::vector<std::uint8_t> reply(64);
        const auto result = session.vendorDevice()->readInputReport(reply, std::chrono::milliseconds(20));
        if (result.status != 0 || result.length == 0) {
            return -1;
        }
        EXPECT_EQ(result.length, 64u);
        EXPECT_EQ(reply[0], 0x01);
        return reply[1];
    }

    std::vector<int> exchanges(const std::vector<Bytes>& packets) {
        std::vector<int> statuses;
        for (const auto& p : packets) {
            statuses.push_back(exchange(p));
        }
        return statuses;
    }

    // Mode and presence as discovery sees them once the restart time has passed.
    std::optional<bool> listedAsBootloader() {
        clock.advance(std::chrono::milliseconds(500));
        const auto devices = HIDSession::discover(platform);
        return devices.empty() ? std::nullopt : std::optional(devices[0].bootloader);
    }

    Bytes storedImage() { return platform.withBoard(0, &EmulatedBoard::storedImage); }
    bool appValid() { return platform.withBoard(0, &EmulatedBoard::appValid); }
    std::vector<Bytes> packets() { return platform.withBoard(0, &EmulatedBoard::packetsReceived); }

    ManualClock clock;
    EmulatedPlatform platform;
    HIDSession session;
};

Bytes openPacket() {
    return IAP::packet(IAP::Code::open, {});
}
Bytes writePacket(const Bytes& chunk) {
    return IAP::packet(IAP::Code::write, chunk);
}
Bytes verifyPacket(const Bytes& chunk) {
    return IAP::packet(IAP::Code::verify, chunk);
}
Bytes sealPacket(std::uint32_t length, std::uint32_t crc) {
    auto payload = littleEndian(length, 4);
    const auto c = littleEndian(crc, 4);
    payload.insert(payload.end(), c.begin(), c.end());
    return IAP::packet(IAP::Code::seal, payload);
}
Bytes sealPacket(const Bytes& image) {
    return sealPacket(static_cast<std::uint32_t>(image.size()), CRC32::compute(image));
}

using S = EmulatedBootloader::Status;

struct SequenceCase {
    const char* name;
    std::vector<Bytes> packets;
    std::vector<int> statuses;
};

class BootloaderSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(BootloaderSequence, AnswersAsARealBootloader) {
    Bootloader b;
    EXPECT_THAT(b.exchanges(GetParam().packets), ElementsAreArray(GetParam().statuses));
}

Bytes withLengthByte(std::uint8_t code, std::uint8_t length) {
    auto p = IAP::packet(code, Bytes(61, 0x11));
    p[2] = length;
    return p;
}

const Bytes twoBytes{0x01, 0x02};

INSTANTIATE_TEST_SUITE_P(
    Cases, BootloaderSequence,
    testing::Values(
        SequenceCase{"WholeSequence",
                     {openPacket(), writePacket(twoBytes), verifyPacket(twoBytes), sealPacket(twoBytes)},
                     {0, 0, 0, 0}},
        // Out of sequence
        SequenceCase{"WriteBeforeOpen", {writePacket(twoBytes)}, {S::notOpen}},
        SequenceCase{"VerifyBeforeOpen", {verifyPacket(twoBytes)}, {S::notOpen}},
        SequenceCase{"SealBeforeOpen", {sealPacket(twoBytes)}, {S::notOpen}},
        SequenceCase{"WriteAfterVerify",
                     {openPacket(), writePacket({1}), verifyPacket({1}), writePacket({2})},
                     {0, 0, 0, S::writeAfterVerify}},
        SequenceCase{"WriteAfterSeal",
                     {openPacket(), writePacket({1}), verifyPacket({1}), sealPacket({1}), writePacket({2})},
                     {0, 0, 0, 0, S::writeAfterVerify}},
        SequenceCase{"VerifyBeyondWritten",
                     {openPacket(), writePacket(twoBytes), verifyPacket({1, 2, 3})},
                     {0, 0, S::verifyBeyondWritten}},
        SequenceCase{
            "VerifyMismatch", {openPacket(), writePacket(twoBytes), verifyPacket({1, 3})}, {0, 0, S::verifyMismatch}},
        SequenceCase{"SealBeforeEveryByteIsVerified",
                     {openPacket(), writePacket(twoBytes), verifyPacket({1}), sealPacket(twoBytes)},
                     {0, 0, 0, S::notVerified}},
        SequenceCase{"SealWithNothingWritten", {openPacket(), sealPacket(0, 0)}, {0, S::notVerified}},
        SequenceCase{
            "SealedLengthDiffers",
            {openPacket(), writePacket(twoBytes), verifyPacket(twoBytes), sealPacket(3, CRC32::compute(twoBytes))},
            {0, 0, 0, S::lengthMismatch}},
        SequenceCase{
            "SealedCRCDiffers",
            {openPacket(), writePacket(twoBytes), verifyPacket(twoBytes), sealPacket(2, CRC32::compute(twoBytes) ^ 1)},
            {0, 0, 0, S::crcMismatch}},
        SequenceCase{"OpenStartsAnew",
                     {openPacket(), writePacket(twoBytes), openPacket(), verifyPacket({1})},
                     {0, 0, 0, S::verifyBeyondWritten}},
        // Malformed packets
        SequenceCase{"UnknownCodes",
                     {IAP::packet(0x86, {}), IAP::packet(0x7F, {}), IAP::packet(0x00, {})},
                     {S::unknownCommand, S::unknownCommand, S::unknownCommand}},
        SequenceCase{"EmptyChunks", {openPacket(), writePacket({}), verifyPacket({})}, {0, S::badLength, S::badLength}},
        SequenceCase{"LengthBytePast61", {openPacket(), withLengthByte(IAP::Code::write, 62)}, {0, S::badLength}},
        SequenceCase{
            "LengthBytePastTheReport", {openPacket(), Bytes{0x01, IAP::Code::write, 3, 0xAA, 0xBB}}, {0, S::badLength}},
        SequenceCase{"SealNotOfEightBytes",
                     {openPacket(), writePacket({1}), verifyPacket({1}), IAP::packet(IAP::Code::seal, Bytes(7, 0))},
                     {0, 0, 0, S::badLength}},
        SequenceCase{"PayloadOfOpenIsIgnored", {IAP::packet(IAP::Code::open, Bytes{1, 2, 3})}, {0}}),
    [](const auto& test) { return test.param.name; });

TEST(EmulatedBootloader, RefusesAnImageLargerThanTheAPPArea) {
    Bootloader b;
    const auto image = patternBytes(44'928);
    ASSERT_EQ(b.exchange(openPacket()), 0);
    for (std::size_t i = 0; i < image.size(); i += 61) {
        const Bytes chunk(image.begin() + static_cast<std::ptrdiff_t>(i),
                          image.begin() + static_cast<std::ptrdiff_t>(std::min(i + 61, image.size())));
        ASSERT_EQ(b.exchange(writePacket(chunk)), 0) << i;
    }
    EXPECT_EQ(b.exchange(writePacket({0xFF})), S::areaFull);
    EXPECT_EQ(b.storedImage(), image);
}

TEST(EmulatedBootloader, FinishAfterTheSealStartsTheNewImage) {
    Bootloader b;
    ASSERT_THAT(b.exchanges({openPacket(), writePacket(twoBytes), verifyPacket(twoBytes), sealPacket(twoBytes)}),
                ElementsAre(0, 0, 0, 0));
    EXPECT_EQ(b.exchange(IAP::packet(IAP::Code::finish, {})), -1); // no answer: the board has gone
    EXPECT_EQ(b.listedAsBootloader(), false);
    EXPECT_EQ(b.storedImage(), twoBytes);
    EXPECT_TRUE(b.appValid());
}

TEST(EmulatedBootloader, UnsealedSequenceLeavesNoAPPToStart) {
    for (const auto code : {IAP::Code::finish, IAP::Code::runApp}) {
        Bootloader b;
        ASSERT_THAT(b.exchanges({openPacket(), writePacket(twoBytes), verifyPacket(twoBytes)}), ElementsAre(0, 0, 0));
        EXPECT_EQ(b.exchange(IAP::packet(code, {})), -1);
        EXPECT_EQ(b.listedAsBootloader(), true) << int(code);
        EXPECT_FALSE(b.appValid());
        EXPECT_THAT(b.packets(), IsEmpty()); // a new bootloader start
    }
}

TEST(EmulatedBootloader, RunAppWithoutASequenceKeepsTheImage) {
    for (const auto code : {IAP::Code::runApp, IAP::Code::finish}) {
        Bootloader b;
        EXPECT_EQ(b.exchange(IAP::packet(code, {})), -1);
        EXPECT_EQ(b.listedAsBootloader(), false) << int(code);
        EXPECT_EQ(b.storedImage(), (Bytes{0xA5, 0x5A}));
    }
}

TEST(EmulatedBootloader, AnswersNothingButOutputReportOne) {
    Bootloader b;
    EXPECT_EQ(b.session.vendorDevice()->setReport(ReportType::feature, openPacket()), EPIPE);
    auto other = openPacket();
    other[0] = 2;
    EXPECT_EQ(b.session.vendorDevice()->setReport(ReportType::output, other), EPIPE);
    std::vector<std::uint8_t> buffer(6);
    EXPECT_EQ(b.session.vendorDevice()->getReport(ReportType::feature, 6, buffer).status, EPIPE);
    EXPECT_THAT(b.packets(), IsEmpty());
}

TEST(EmulatedBootloader, EnteredFromAPPModeItCountsPacketsAfresh) {
    auto app = board();
    Bootloader b(app);
    b.session.set(Bytes{0x05, 0x3C, 0x3C, 0x3C, 0x3C}, ReportType::feature);
    EXPECT_EQ(b.listedAsBootloader(), true);
    b.session.connect(boardID);
    EXPECT_EQ(b.exchange(openPacket()), 0);
    EXPECT_THAT(b.packets(), SizeIs(1));
}

// Fault switches

TEST(EmulatedBootloaderFaults, StatusDropAndExtraReportsAtTheirPacket) {
    auto d = bootloaderBoard();
    d.faults.replyStatus[2] = 0x42;
    d.faults.dropReply = 3;
    d.faults.sendBefore[4] = {{0x02, 0x07}};
    d.faults.sendAfter[4] = {{0x01}};
    Bootloader b(d);
    EXPECT_THAT(b.exchanges({openPacket(), writePacket(twoBytes), verifyPacket(twoBytes)}), ElementsAre(0, 0x42, -1));
    EXPECT_THAT(b.storedImage(), IsEmpty()); // the told status replaced the work

    b.session.set(sealPacket(twoBytes), ReportType::output);
    std::vector<std::uint8_t> buffer(64);
    const auto device = b.session.vendorDevice();
    const auto read = [&] { return device->readInputReport(buffer, std::chrono::milliseconds(20)).length; };
    EXPECT_EQ(read(), 2u);
    EXPECT_THAT(std::vector(buffer.begin(), buffer.begin() + 2), ElementsAre(0x02, 0x07));
    EXPECT_EQ(read(), 64u);
    EXPECT_THAT(std::vector(buffer.begin(), buffer.begin() + 2), ElementsAre(0x01, S::notVerified));
    EXPECT_EQ(read(), 1u);
    EXPECT_EQ(read(), 0u);
}

TEST(EmulatedBootloaderFaults, VanishesOnceItsAnswerHasBeenRead) {
    auto d = bootloaderBoard();
    d.faults.vanishAfter = 2;
    Bootloader b(d);
    EXPECT_THAT(b.exchanges({openPacket(), writePacket(twoBytes)}), ElementsAre(0, 0));
    EXPECT_EQ(b.session.vendorDevice()->setReport(ReportType::output, verifyPacket(twoBytes)), ENODEV);
    EXPECT_EQ(b.listedAsBootloader(), std::nullopt);
    b.clock.advance(std::chrono::hours(1));
    EXPECT_THAT(HIDSession::discover(b.platform), IsEmpty()); // for good
}

TEST(EmulatedBootloaderFaults, VanishesAtOnceWhenItsAnswerIsDropped) {
    auto d = bootloaderBoard();
    d.faults.vanishAfter = 1;
    d.faults.dropReply = 1;
    Bootloader b(d);
    b.session.set(openPacket(), ReportType::output);
    std::vector<std::uint8_t> buffer(64);
    EXPECT_EQ(b.session.vendorDevice()->readInputReport(buffer, std::chrono::milliseconds(0)).status, ENODEV);
}

TEST(EmulatedBootloaderFaults, AnswersOnlyOnceTheDelayHasPassed) {
    auto d = bootloaderBoard();
    d.faults.delayMilliseconds = 30;
    Bootloader b(d);
    b.session.set(openPacket(), ReportType::output);
    std::vector<std::uint8_t> buffer(64);
    auto* const device = b.session.vendorDevice();
    EXPECT_EQ(device->readInputReport(buffer, std::chrono::milliseconds(0)).length, 0u);
    EXPECT_EQ(device->readInputReport(buffer, std::chrono::milliseconds(1000)).length, 64u);
}

// Description members

TEST(BoardDescriptionJSON, ReadsTheBootloaderFaultsAndTheImage) {
    TemporaryDirectory directory;
    writeFile(directory / "app.hex", intelHex(0x08003000, {0x10, 0x20, 0x30}));
    writeFile(directory / "boards.json", std::string(R"({"boards": [{
        "location": 17825792, "bootloader": true, "image": "app.hex",
        "faults": {"dropReply": 4, "replyStatus": {"2": 5, "1476": 0}, "vanishAfter": 9, "delayMs": 1,
                   "sendBefore": {"3": [[2, 0], [1]]}, "sendAfter": {"1": [[1, 9, 255]]}}
    }]})"));
    const auto platform = EmulatedPlatform::fromSetting((directory / "boards.json").string());
    const auto f = platform->withBoard(0, [](EmulatedBoard& b) { return b.description().faults; });
    EXPECT_EQ(f.dropReply, 4u);
    EXPECT_THAT(f.replyStatus, ElementsAre(std::pair<const std::size_t, std::uint8_t>{2, 5},
                                           std::pair<const std::size_t, std::uint8_t>{1476, 0}));
    EXPECT_EQ(f.vanishAfter, 9u);
    EXPECT_EQ(f.delayMilliseconds, 1);
    EXPECT_THAT(f.sendBefore.at(3), ElementsAre(Bytes{2, 0}, Bytes{1}));
    EXPECT_THAT(f.sendAfter.at(1), ElementsAre(Bytes{1, 9, 255}));
    EXPECT_EQ(platform->withBoard(0, &EmulatedBoard::storedImage), (Bytes{0x10, 0x20, 0x30}));
}

std::string parseError(const std::string& json) {
    try {
        BoardDescription::parse(json, QUELMAR_TEST_DATA "/hex");
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(parsed)";
}

struct BadMember {
    std::string faults;
    std::string message;
};

class BootloaderFaultErrors : public testing::TestWithParam<BadMember> {};

TEST_P(BootloaderFaultErrors, NameTheFaultyMember) {
    EXPECT_THAT(parseError(R"({"boards": [{)" + GetParam().faults + "}]}"), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BootloaderFaultErrors,
    testing::Values(
        BadMember{R"("faults": {"dropReply": 0})", "boards[0].faults.dropReply: must lie between 1"},
        BadMember{R"("faults": {"vanishAfter": "3"})", "boards[0].faults.vanishAfter: must be an integer"},
        BadMember{R"("faults": {"replyStatus": {"0": 1}})", "key \"0\" is not a packet number"},
        BadMember{R"("faults": {"replyStatus": {"2": 256}})", "boards[0].faults.replyStatus.2: must lie"},
        BadMember{R"("faults": {"sendBefore": {"2": [[]]}})", "boards[0].faults.sendBefore.2[0]: must be a list"},
        BadMember{R"("faults": {"sendAfter": {"2": [1]}})", "boards[0].faults.sendAfter.2[0]: must be a list"},
        BadMember{R"("faults": {"sendAfter": {"2": [[1, 300]]}})", "boards[0].faults.sendAfter.2[0][1]: must lie"},
        BadMember{R"("faults": {"delayMs": -1})", "boards[0].faults.delayMs: must lie"},
        BadMember{R"("image": "missing.hex")", "boards[0].image: cannot read"},
        BadMember{R"("image": "bad_checksum_line3.hex")", "bad_checksum_line3.hex: HEX 第 3 行：长度或校验和错误"},
        BadMember{R"("image": 3)", "boards[0].image: must be a string"}));

} // namespace
