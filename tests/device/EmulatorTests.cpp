#include "Boards.h"
#include "HexFixtures.h"
#include "Matchers.h"
#include "core/BatteryConfig.h"
#include "core/DeviceInfo.h"
#include "core/IAP.h"
#include "core/UPSError.h"
#include "device/HIDSession.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

const std::string boardID = "location:17825792";

Snapshot telemetry() {
    Snapshot t;
    t.capacity = 87;
    t.runtime = 3600;
    t.batteryVoltage = 12.34;
    t.batteryCurrent = -1.0;
    t.temperature = 25.0;
    t.inputVoltage = 0.0;
    t.inputCurrent = 0.0;
    t.output5Voltage = 5.02;
    t.output5Current = 0.8;
    t.output12Voltage = 655.35;
    t.output12Current = -327.68;
    t.load = 18;
    t.status = 0x0145;
    return t;
}

std::string parseError(const std::string& json) {
    try {
        BoardDescription::parse(json);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(parsed)";
}

} // namespace

TEST(EmulatedBoard, EncodesTelemetryAsTheBoardDoes) {
    auto b = board();
    b.telemetry = telemetry();
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    session.connect(boardID);
    // clang-format off
    EXPECT_THAT(session.get(8, 25, ReportType::feature, false), ElementsAre(
        0x08,        // report ID
        0x57,        // capacity 87 %
        0x10, 0x0E,  // runtime 3600 s
        0xD2, 0x04,  // battery 12.34 V
        0x9C, 0xFF,  // battery current -1.00 A
        0xFA, 0x00,  // temperature 25.0 °C
        0x00, 0x00,  // input 0 V
        0x00, 0x00,  // input current 0 A
        0xF6, 0x01,  // 5 V output 5.02 V
        0x50, 0x00,  // 5 V output 0.80 A
        0xFF, 0xFF,  // 12 V output 655.35 V
        0x00, 0x80,  // 12 V output -327.68 A
        0x12,        // load 18 %
        0x45, 0x01)); // status: mains, discharging, battery present, shutdown imminent
    EXPECT_THAT(session.get(4, 15, ReportType::feature, true), ElementsAre(
        0x04,                          // report ID
        0x10, 0x0E,                    // runtime 3600 s
        0x00, 0x00, 0x00, 0x00,        // unused
        0xD2, 0x04,                    // battery 12.34 V
        0x9C, 0xFF,                    // battery current -1.00 A
        0x00, 0x00,                    // unused
        0xFA, 0x00));                  // temperature 25.0 °C
    EXPECT_THAT(session.get(1, 8, ReportType::input, true), ElementsAre(
        0x01,                          // report ID
        0x57,                          // capacity 87 %
        0x00, 0x00, 0x00, 0x00,        // unused
        0x45, 0x01));                  // status
    EXPECT_THAT(session.get(7, 8, ReportType::feature, false), ElementsAre(
        0x07,                          // report ID
        0x28, 0x0A,                    // capacity 2600 mAh
        0xC8, 0xAF, 0x00, 0x00,        // resistance 45000 µΩ
        0x02));                        // nominal 3.7 V
    // clang-format on
    EXPECT_EQ(session.snapshot(), telemetry());
}

TEST(EmulatedBoard, ReportsAnswerOnlyOnTheirInterface) {
    auto b = board();
    b.interfaces = {interface(InterfaceRole::power)};
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    session.connect(boardID);
    // The vendor role falls to the power interface, which does not answer identity or writes.
    EXPECT_FALSE(session.info());
    EXPECT_THROW(session.get(7, 8, ReportType::feature, false), UPSError);
    EXPECT_THROW(session.set(BatteryConfig(2600, 45000, 2).report(), ReportType::feature), UPSError);
    EXPECT_EQ(session.snapshot().capacity, 87);
}

TEST(EmulatedBoard, OutOfRangeStoredConfigurationIsReportedAsStored) {
    auto b = board();
    b.config = {0, 2000000, 3};
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    session.connect(boardID);
    // clang-format off
    EXPECT_THAT(session.get(7, 8, ReportType::feature, false), ElementsAre(
        0x07, 0x00, 0x00, 0x80, 0x84, 0x1E, 0x00, 0x03));
    // clang-format on
}

TEST(EmulatedBoard, EnterBootloaderRequestRestartsTheBoardAtTheSameLocation) {
    ManualClock clock;
    auto b = board();
    b.restartMilliseconds = 500;
    EmulatedPlatform platform({b}, clock.function());
    HIDSession session(platform);
    session.connect(boardID);

    session.set(Bytes{0x05, 0x3C, 0x3C, 0x3C, 0x00}, ReportType::feature); // wrong magic: ignored
    EXPECT_THAT(HIDSession::discover(platform), SizeIs(1));

    session.set(Bytes{0x05, 0x3C, 0x3C, 0x3C, 0x3C}, ReportType::feature);
    EXPECT_THAT(HIDSession::discover(platform), IsEmpty());
    std::vector<std::uint8_t> buffer(6);
    EXPECT_EQ(session.vendorDevice()->getReport(ReportType::feature, 6, buffer).status, ENODEV);

    clock.advance(std::chrono::milliseconds(499));
    EXPECT_THAT(HIDSession::discover(platform), IsEmpty());
    clock.advance(std::chrono::milliseconds(1));
    const auto devices = HIDSession::discover(platform);
    ASSERT_THAT(devices, SizeIs(1));
    EXPECT_EQ(devices[0].id, boardID);
    EXPECT_TRUE(devices[0].bootloader);
    EXPECT_EQ(devices[0].vendor.productID, 3);
    EXPECT_FALSE(devices[0].power);

    session.connect(boardID);
    EXPECT_FALSE(session.info());
}

TEST(EmulatedBoard, LeavesTheBusAndComesBackWhenTheFaultsSay) {
    ManualClock clock;
    auto b = board();
    b.faults.leaveAfterMilliseconds = 1000;
    b.faults.returnAfterMilliseconds = 500;
    auto gone = board("Quelmar DC UPS", 0x01200000, "QM2");
    gone.faults.leaveAfterMilliseconds = 1000;
    EmulatedPlatform platform({b, gone}, clock.function());
    HIDSession session(platform);
    session.connect(boardID);
    clock.advance(std::chrono::milliseconds(999));
    EXPECT_NO_THROW(session.snapshot());
    EXPECT_THAT(HIDSession::discover(platform), SizeIs(2));
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_THAT(HIDSession::discover(platform), IsEmpty());
    EXPECT_THAT([&] { session.snapshot(); }, ThrowsUPSError("读取 Report 8 失败：0x00000013"));
    clock.advance(std::chrono::milliseconds(500));
    ASSERT_THAT(HIDSession::discover(platform), SizeIs(1)); // in APP mode at its place; the other board stays away
    session.connect(boardID);
    EXPECT_FALSE(session.device()->bootloader);
    EXPECT_NO_THROW(session.snapshot());
    clock.advance(std::chrono::hours(1));
    EXPECT_THAT(HIDSession::discover(platform), SizeIs(1)); // once
}

TEST(EmulatedBoard, ReadingInputReportsWaitsForTheTimeout) {
    EmulatedPlatform platform({board()});
    HIDSession session(platform);
    session.connect(boardID);
    std::vector<std::uint8_t> buffer(64);
    const auto result = session.vendorDevice()->readInputReport(buffer, std::chrono::milliseconds(5));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.length, 0u);
}

TEST(EmulatedBoard, StandardBoardMovesThroughChargeAndDischarge) {
    ManualClock clock;
    EmulatedPlatform platform({BoardDescription::standard()}, clock.function());
    HIDSession session(platform);
    session.connect(HIDSession::discover(platform).at(0).id);

    const auto charging = session.snapshot();
    EXPECT_THAT(charging.statuses(), ElementsAre("市电供电", "充电中", "电池在位"));
    EXPECT_GT(*charging.batteryCurrent, 0);
    clock.advance(std::chrono::seconds(60));
    const auto later = session.snapshot();
    EXPECT_GT(*later.capacity, *charging.capacity);
    EXPECT_NE(later.output5Current, charging.output5Current);

    clock.advance(std::chrono::seconds(220)); // 280 s: full
    EXPECT_THAT(session.snapshot().statuses(), ElementsAre("市电供电", "已充满", "电池在位"));
    clock.advance(std::chrono::seconds(120)); // 400 s: on battery
    const auto discharging = session.snapshot();
    EXPECT_THAT(discharging.statuses(), ElementsAre("放电中", "电池在位"));
    EXPECT_LT(*discharging.batteryCurrent, 0);
    EXPECT_EQ(*discharging.inputVoltage, 0.0);
}

TEST(BoardDescriptionJSON, ReadsEveryMember) {
    const auto boards = BoardDescription::parse(R"({"boards": [{
        "product": "Vetrola UPS", "serial": "V1", "location": 20, "bootloader": true,
        "vendorID": 1309, "productID": 2, "hardware": "10.255", "software": "0.12.200",
        "interfaces": ["vendor", {"role": "power", "usagePage": null, "product": "other", "location": 0}],
        "config": {"capacity": 0, "resistanceMicroOhms": 4294967295, "nominal": 2},
        "telemetry": {"batteryCurrent": -327.68, "temperature": 6553.5, "status": 65535},
        "moving": true, "restartMs": 10,
        "faults": {"openStatus": 4294967295, "openFailsOn": "vendor", "getStatus": {"8": 32},
                   "setStatus": {"7": 5}, "replyLength": {"6": 3}, "replyID": {"6": 9},
                   "readBack": {"capacity": 1, "resistanceMicroOhms": 2, "nominal": 3},
                   "leaveAfterMs": 86400000, "returnAfterMs": 0}
    }]})");
    ASSERT_THAT(boards, SizeIs(1));
    const auto& b = boards[0];
    EXPECT_EQ(b.product, "Vetrola UPS");
    EXPECT_EQ(b.location, 20);
    EXPECT_TRUE(b.bootloader);
    EXPECT_EQ(b.productID, 2);
    EXPECT_THAT(b.hardware, ElementsAre(10, 255));
    EXPECT_THAT(b.software, ElementsAre(0, 12, 200));
    ASSERT_THAT(b.interfaces, SizeIs(2));
    EXPECT_EQ(b.interfaces[1].role, InterfaceRole::power);
    ASSERT_TRUE(b.interfaces[1].usagePage);
    EXPECT_FALSE(*b.interfaces[1].usagePage); // null: the property is missing
    EXPECT_EQ(b.interfaces[1].location, std::optional<std::optional<std::int64_t>>(0));
    EXPECT_EQ(b.config, (StoredConfig{0, 4294967295, 2}));
    EXPECT_EQ(b.telemetry.batteryCurrent, -327.68);
    EXPECT_EQ(b.telemetry.temperature, 6553.5);
    EXPECT_EQ(b.telemetry.capacity, BoardDescription::defaultTelemetry().capacity); // untold fields keep defaults
    EXPECT_TRUE(b.moving);
    EXPECT_EQ(b.restartMilliseconds, 10);
    EXPECT_EQ(b.faults.openStatus, -1);
    EXPECT_EQ(b.faults.openFailsOn, InterfaceRole::vendor);
    EXPECT_EQ(b.faults.getStatus.at(8), 32);
    EXPECT_EQ(b.faults.setStatus.at(7), 5);
    EXPECT_EQ(b.faults.replyLength.at(6), 3u);
    EXPECT_EQ(b.faults.replyID.at(6), 9);
    EXPECT_EQ(b.faults.readBackNominal, 3);
    EXPECT_EQ(b.faults.leaveAfterMilliseconds, 86400000);
    EXPECT_EQ(b.faults.returnAfterMilliseconds, 0);
}

struct BadDescription {
    std::string json;
    std::string message;
};

class BoardDescriptionErrors : public testing::TestWithParam<BadDescription> {};

TEST_P(BoardDescriptionErrors, NameTheFaultyMember) {
    EXPECT_THAT(parseError(GetParam().json), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardDescriptionErrors,
    testing::Values(
        BadDescription{R"([])", "top level: must be an object"},
        BadDescription{R"({})", "top level: needs a list \"boards\""},
        BadDescription{R"({"boards": [{"colour": 1}]})", "boards[0]: unknown member \"colour\""},
        BadDescription{R"({"boards": [{}, {"software": "1.0"}]})", "boards[1].software: must be 3 numbers"},
        BadDescription{R"({"boards": [{"software": "1.0.256"}]})", "boards[0].software: must be 3 numbers"},
        BadDescription{R"({"boards": [{"hardware": "1.2.3"}]})", "boards[0].hardware: must be 2 numbers"},
        BadDescription{R"({"boards": [{"location": -1}]})", "boards[0].location: must lie between 0 and 4294967295"},
        BadDescription{R"({"boards": [{"location": "3"}]})", "boards[0].location: must be an integer"},
        BadDescription{R"({"boards": [{"interfaces": ["hid"]}]})", "boards[0].interfaces[0]: must be \"vendor\""},
        BadDescription{R"({"boards": [{"interfaces": [{"usagePage": 1}]}]})",
                       "boards[0].interfaces[0]: needs a \"role\""},
        BadDescription{R"({"boards": [{"telemetry": {"inputVoltage": -0.01}}]})",
                       "boards[0].telemetry.inputVoltage: does not fit"},
        BadDescription{R"({"boards": [{"telemetry": {"batteryCurrent": 327.68}}]})",
                       "boards[0].telemetry.batteryCurrent: does not fit"},
        BadDescription{R"({"boards": [{"telemetry": {"temperature": -1}}]})",
                       "boards[0].telemetry.temperature: does not fit"},
        BadDescription{R"({"boards": [{"telemetry": {"capacity": 256}}]})", "boards[0].telemetry.capacity: must lie"},
        BadDescription{R"({"boards": [{"faults": {"openStatus": 0}}]})", "boards[0].faults.openStatus: must lie"},
        BadDescription{R"({"boards": [{"faults": {"getStatus": {"x": 1}}}]})", "key \"x\" is not a report ID"},
        BadDescription{R"({"boards": [{"faults": {"readBack": {"capacity": 65536}}}]})",
                       "boards[0].faults.readBack.capacity: must lie"},
        BadDescription{R"({"boards": [{"faults": {"returnAfterMs": 1}}]})",
                       "boards[0].faults.returnAfterMs: needs \"leaveAfterMs\""},
        BadDescription{R"({"boards": [{"reports": [{"interface": "vendor", "type": "feature", "id": 6}]}]})",
                       "boards[0].reports[0]: needs \"interface\", \"type\", \"id\" and either"},
        BadDescription{
            R"({"boards": [{"reports": [{"interface": "vendor", "type": "output", "id": 1, "status": 32}]}]})",
            "boards[0].reports[0].type: must be \"feature\" or \"input\""},
        BadDescription{
            R"({"boards": [{"reports": [{"interface": "vendor", "type": "feature", "id": 6, "bytes": "6 1"}]}]})",
            "boards[0].reports[0].bytes: must be bytes as pairs of hexadecimal digits"},
        BadDescription{
            R"({"boards": [{"reports": [{"interface": "vendor", "type": "feature", "id": 6, "bytes": ""}]}]})",
            "boards[0].reports[0].bytes: must hold 1 to 64 bytes"},
        BadDescription{R"({"boards": [)", "parse error"}));

// ---- Recorded answers of a real board, replayed

TEST(EmulatedBoard, ReplaysRecordedAnswersInOrderAndTheLastOneAgain) {
    EmulatedPlatform platform(BoardDescription::parse(R"({"boards": [{"location": 17825792, "reports": [
        {"interface": "vendor", "type": "feature", "id": 8, "bytes": "08 01"},
        {"interface": "power", "type": "input", "id": 1, "bytes": "01 37 00 00 00 00 43 00"},
        {"interface": "vendor", "type": "feature", "id": 8, "bytes": "08 02"},
        {"interface": "vendor", "type": "feature", "id": 6, "status": 32}
    ]}]})"));
    HIDSession session(platform);
    session.connect(boardID);
    EXPECT_FALSE(session.info()) << "the identity read failed as recorded";
    EXPECT_EQ(session.get(8, 2, ReportType::feature, false), (Bytes{8, 1}));
    EXPECT_EQ(session.get(8, 2, ReportType::feature, false), (Bytes{8, 2}));
    EXPECT_EQ(session.get(8, 2, ReportType::feature, false), (Bytes{8, 2}));
    EXPECT_EQ(session.get(1, 8, ReportType::input, true), (Bytes{1, 0x37, 0, 0, 0, 0, 0x43, 0}));
    // Not recorded: the board answers itself.
    EXPECT_EQ(session.get(Reports::config, ReportType::feature, false), BatteryConfig::report(2600, 45000, 2));
}

TEST(EmulatedBoard, AnswersAWrittenReportItselfAndLeavesTheRecordingBehindOnARestart) {
    EmulatedPlatform platform(BoardDescription::parse(R"({"boards": [{"location": 17825792, "restartMs": 0,
        "reports": [{"interface": "vendor", "type": "feature", "id": 7, "bytes": "07 28 0a c8 af 00 00 02"},
                    {"interface": "vendor", "type": "feature", "id": 6, "bytes": "06 09 09 09 09 09"}]}]})"));
    HIDSession session(platform);
    session.connect(boardID);
    EXPECT_EQ(session.info(), DeviceInfo("9.9", "9.9.9"));
    session.writeConfig(BatteryConfig(3000, 50000, 1));
    EXPECT_EQ(BatteryConfig(session.get(Reports::config, ReportType::feature, false)), BatteryConfig(3000, 50000, 1));

    session.set(Bytes{Reports::enterBootloader.id, 0x3C, 0x3C, 0x3C, 0x3C}, ReportType::feature);
    platform.withBoard(0, [](EmulatedBoard& b) {
        b.restartInto(BoardMode::app); // back in APP mode: the recording was of the board before it restarted
        return 0;
    });
    session.connect(boardID);
    EXPECT_EQ(session.info(), DeviceInfo("1.2", "1.0.8"));
}

TEST(BoardDescriptionJSON, StandardSettingGivesOneAppBoard) {
    const auto platform = EmulatedPlatform::fromSetting("1");
    const auto devices = HIDSession::discover(*platform);
    ASSERT_THAT(devices, SizeIs(1));
    EXPECT_FALSE(devices[0].bootloader);
    EXPECT_TRUE(devices[0].power);
}

TEST(BoardDescriptionJSON, UnreadableFileNamesThePath) {
    try {
        EmulatedPlatform::fromSetting("/nonexistent/boards.json");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "QUELMAR_SIMULATOR: cannot read /nonexistent/boards.json");
    }
}

TEST(BoardDescriptionJSON, DescriptionLargerThanOneMebibyteIsNotRead) {
    const TemporaryDirectory directory;
    const auto path = (directory / "boards.json").string();
    writeFile(path, std::string(EmulatedPlatform::maxDescriptionSize + 1, ' '));
    EXPECT_THAT([&] { EmulatedPlatform::fromSetting(path); },
                testing::ThrowsMessage<std::runtime_error>("QUELMAR_SIMULATOR: " + path + ": larger than 1 MiB"));
}

// Tests read what a board holds while devices of the same platform change it on other threads.
TEST(EmulatedPlatform, BoardStateIsReadUnderTheLock) {
    auto b = board();
    b.bootloader = true;
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    session.connect(boardID);
    HIDDevice& device = *session.vendorDevice();
    constexpr std::size_t count = 5000;
    std::atomic<std::size_t> sent = 0;
    std::thread writer([&] {
        for (; sent < count; ++sent) {
            device.setReport(ReportType::output, IAP::packet(IAP::Code::write, Bytes{0x01}));
        }
    });
    while (sent == 0) {
        std::this_thread::yield();
    }
    std::size_t seen = 0;
    while (sent < count) {
        const auto packets = platform.withBoard(0, &EmulatedBoard::packetsReceived);
        EXPECT_GE(packets.size(), seen);
        EXPECT_TRUE(std::all_of(packets.begin(), packets.end(), [](const Bytes& p) { return p.size() == 64; }));
        seen = packets.size();
    }
    writer.join();
    EXPECT_EQ(platform.withBoard(0, &EmulatedBoard::packetsReceived).size(), count);
}
