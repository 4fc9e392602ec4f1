#include "Boards.h"
#include "Matchers.h"
#include "device/HIDSession.h"

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAreArray;
using testing::SizeIs;

namespace {

const std::string boardID = "location:17825792";

struct Connected {
    explicit Connected(BoardDescription b)
        : platform({std::move(b)})
        , session(platform) {
        session.connect(boardID);
    }

    EmulatedPlatform platform;
    HIDSession session;
};

BoardDescription withSoftware(std::array<std::uint8_t, 3> software) {
    auto b = board();
    b.software = software;
    return b;
}

} // namespace

TEST(Session, ConnectReadsTheIdentity) {
    Connected c(withSoftware({1, 0, 10}));
    ASSERT_TRUE(c.session.device());
    EXPECT_EQ(c.session.device()->id, boardID);
    ASSERT_TRUE(c.session.info());
    EXPECT_EQ(*c.session.info(), DeviceInfo("1.2", "1.0.10"));
    EXPECT_NE(c.session.vendorDevice(), nullptr);
}

TEST(Session, FailedIdentityReadStillConnects) {
    auto b = board();
    b.faults.getStatus[6] = 32;
    Connected c(b);
    EXPECT_TRUE(c.session.device());
    EXPECT_FALSE(c.session.info());
}

TEST(Session, ConnectToAnAbsentBoardFails) {
    EmulatedPlatform platform({board()});
    HIDSession session(platform);
    EXPECT_THAT([&] { session.connect("location:1"); }, ThrowsUPSError("设备已断开"));
    EXPECT_FALSE(session.device());
}

TEST(Session, InterfaceSharedByBothRolesIsOpenedOnce) {
    auto b = board();
    b.interfaces = {interface(InterfaceRole::power)};
    Connected c(b);
    EXPECT_EQ(c.platform.withBoard(0, &EmulatedBoard::openCount), 1u);
    auto both = board();
    Connected d(both);
    EXPECT_EQ(d.platform.withBoard(0, &EmulatedBoard::openCount), 2u);
}

TEST(Session, OpenFailureNamesTheStatusAndLeavesTheSessionClosed) {
    auto b = board();
    b.faults.openStatus = 13;
    b.faults.openFailsOn = InterfaceRole::power; // the vendor interface opens first, then is closed again
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    EXPECT_THAT([&] { session.connect(boardID); },
                ThrowsUPSError("USB 打开失败：0x0000000d，请关闭占用设备的其他客户端"));
    EXPECT_FALSE(session.device());
    EXPECT_EQ(session.vendorDevice(), nullptr);
    EXPECT_EQ(platform.withBoard(0, &EmulatedBoard::openCount), 1u);
}

TEST(Session, StatusesPrintAsThirtyTwoBitHex) {
    auto b = board();
    b.faults.openStatus = -1; // hidapi's own failure code
    EmulatedPlatform platform({b});
    HIDSession session(platform);
    EXPECT_THAT([&] { session.connect(boardID); },
                ThrowsUPSError("USB 打开失败：0xffffffff，请关闭占用设备的其他客户端"));
}

TEST(Session, ReconnectingReplacesTheConnection) {
    EmulatedPlatform platform({board("Quelmar DC UPS", 0x01100000), board("Quelmar DC UPS", 0x01200000)});
    HIDSession session(platform);
    session.connect("location:17825792");
    session.connect("location:18874368");
    EXPECT_EQ(session.device()->id, "location:18874368");
    EXPECT_EQ(session.get(6, 6, ReportType::feature, false)[0], 6);
}

TEST(Session, GetAndSetNeedAConnection) {
    EmulatedPlatform platform({board()});
    HIDSession session(platform);
    EXPECT_THAT([&] { session.get(1, 8, ReportType::input, true); }, ThrowsUPSError("设备未连接"));
    EXPECT_THAT([&] { session.set(Bytes{7, 0, 0, 0, 0, 0, 0, 0}, ReportType::feature); }, ThrowsUPSError("设备未连接"));
    EXPECT_THAT([&] { session.snapshot(); }, ThrowsUPSError("设备未连接"));
    session.connect(boardID);
    session.close();
    EXPECT_THAT([&] { session.get(6, 6, ReportType::feature, false); }, ThrowsUPSError("设备未连接"));
}

TEST(Session, SetOfAnEmptyReportCountsAsNotConnected) {
    Connected c(board());
    EXPECT_THAT([&] { c.session.set(Bytes{}, ReportType::feature); }, ThrowsUPSError("设备未连接"));
}

TEST(Session, PowerReadWithoutAPowerInterfaceFails) {
    auto b = board();
    b.interfaces = {interface(InterfaceRole::vendor)};
    Connected c(b);
    EXPECT_THAT([&] { c.session.get(1, 8, ReportType::input, true); }, ThrowsUPSError("缺少 UPS 标准接口"));
}

struct GetCase {
    const char* name;
    std::function<void(BoardFaults&)> fault;
    std::string message;
};

class SessionGet : public testing::TestWithParam<GetCase> {};

TEST_P(SessionGet, FailsWithItsMessageAndStaysConnected) {
    auto b = board();
    GetParam().fault(b.faults);
    Connected c(b);
    EXPECT_THAT([&] { c.session.get(8, 25, ReportType::feature, false); }, ThrowsUPSError(GetParam().message));
    EXPECT_TRUE(c.session.device());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionGet,
    testing::Values(GetCase{"PlatformStatus", [](BoardFaults& f) { f.getStatus[8] = 32; },
                            "读取 Report 8 失败：0x00000020"},
                    GetCase{"ShortAnswer", [](BoardFaults& f) { f.replyLength[8] = 24; }, "USB 报告长度或标识不符"},
                    GetCase{"OtherReportID", [](BoardFaults& f) { f.replyID[8] = 9; }, "USB 报告长度或标识不符"}),
    [](const auto& test) { return test.param.name; });

TEST(Session, LongerAnswerIsCutToTheRequestedLength) {
    auto b = board();
    b.faults.replyLength[6] = 9;
    Connected c(b);
    EXPECT_THAT(c.session.get(6, 6, ReportType::feature, false), ElementsAreArray({6, 1, 2, 1, 0, 8}));
}

TEST(Session, WrongReportTypeIsAPlatformFailure) {
    Connected c(board());
    EXPECT_THAT([&] { c.session.get(8, 25, ReportType::input, false); },
                ThrowsUPSError("读取 Report 8 失败：0x00000020"));
}

TEST(Session, SetFailureNamesReportAndStatus) {
    auto b = board();
    b.faults.setStatus[7] = 5;
    Connected c(b);
    EXPECT_THAT([&] { c.session.set(BatteryConfig(2600, 45000, 2).report(), ReportType::feature); },
                ThrowsUPSError("写入 USB Report 7 失败：0x00000005"));
}

TEST(Session, HandleOfABoardThatLeftTheBusFails) {
    Connected c(board());
    c.platform.withBoard(0, [](EmulatedBoard& e) { e.restartInto(BoardMode::bootloader); });
    EXPECT_THAT([&] { c.session.get(8, 25, ReportType::feature, false); },
                ThrowsUPSError("读取 Report 8 失败：0x00000013"));
}

// Sampling

TEST(Snapshot, FullReportFromFirmware108On) {
    for (const auto software : {std::array<std::uint8_t, 3>{1, 0, 8}, {1, 0, 10}, {1, 1, 0}, {2, 0, 0}}) {
        auto b = withSoftware(software);
        b.interfaces = {interface(InterfaceRole::vendor)}; // the full form never needs the power interface
        Connected c(b);
        EXPECT_EQ(c.session.snapshot(), BoardDescription::defaultTelemetry());
    }
}

TEST(Snapshot, LegacyReportsBefore108AndWithoutIdentity) {
    auto older = withSoftware({1, 0, 7});
    auto unknown = board();
    unknown.faults.getStatus[6] = 32;
    for (const auto& b : {older, unknown}) {
        Connected c(b);
        const auto s = c.session.snapshot();
        const auto t = BoardDescription::defaultTelemetry();
        EXPECT_EQ(s.capacity, t.capacity);
        EXPECT_EQ(s.runtime, t.runtime);
        EXPECT_EQ(s.batteryVoltage, t.batteryVoltage);
        EXPECT_EQ(s.batteryCurrent, t.batteryCurrent);
        EXPECT_EQ(s.temperature, t.temperature);
        EXPECT_EQ(s.inputVoltage, t.inputVoltage);
        EXPECT_EQ(s.load, t.load);
        EXPECT_EQ(s.status, t.status);
        EXPECT_FALSE(s.inputCurrent);
        EXPECT_FALSE(s.output5Voltage || s.output5Current || s.output12Voltage || s.output12Current);
    }
}

TEST(Snapshot, LegacyBoardWithoutPowerInterfaceFails) {
    auto b = withSoftware({1, 0, 7});
    b.interfaces = {interface(InterfaceRole::vendor)};
    Connected c(b);
    EXPECT_THAT([&] { c.session.snapshot(); }, ThrowsUPSError("缺少 UPS 标准接口"));
}

TEST(Snapshot, FirstFailingLegacyReadEndsTheSample) {
    auto b = withSoftware({1, 0, 7});
    b.faults.getStatus[2] = 32;
    b.faults.replyLength[4] = 14;
    Connected c(b);
    EXPECT_THAT([&] { c.session.snapshot(); }, ThrowsUPSError("读取 Report 2 失败：0x00000020"));
}

TEST(Snapshot, BoardBelow108DoesNotAnswerReport8) {
    Connected c(withSoftware({1, 0, 7}));
    EXPECT_THAT([&] { c.session.get(8, 25, ReportType::feature, false); },
                ThrowsUPSError("读取 Report 8 失败：0x00000020"));
}

// Writing the configuration

TEST(WriteConfig, StoresAndReadsBack) {
    Connected c(board());
    c.session.writeConfig(BatteryConfig(5000, 120000, 0));
    EXPECT_EQ(c.platform.withBoard(0, &EmulatedBoard::storedConfig), (StoredConfig{5000, 120000, 0}));
    EXPECT_EQ(BatteryConfig(c.session.get(7, 8, ReportType::feature, false)), BatteryConfig(5000, 120000, 0));
}

TEST(WriteConfig, RefusedInBootloaderModeBeforeAnythingIsSent) {
    auto b = board();
    b.bootloader = true;
    Connected c(b);
    EXPECT_THAT([&] { c.session.writeConfig(BatteryConfig(5000, 120000, 0)); }, ThrowsUPSError("请连接 APP 模式设备"));
    EXPECT_EQ(c.platform.withBoard(0, &EmulatedBoard::storedConfig), StoredConfig{});

    EmulatedPlatform platform({board()});
    HIDSession closed(platform);
    EXPECT_THAT([&] { closed.writeConfig(BatteryConfig(5000, 120000, 0)); }, ThrowsUPSError("请连接 APP 模式设备"));
}

struct ReadBackCase {
    const char* name;
    std::function<void(BoardFaults&)> fault;
    std::string message;
};

class WriteConfigReadBack : public testing::TestWithParam<ReadBackCase> {};

TEST_P(WriteConfigReadBack, FailsAfterTheWrite) {
    auto b = board();
    GetParam().fault(b.faults);
    Connected c(b);
    EXPECT_THAT([&] { c.session.writeConfig(BatteryConfig(5000, 120000, 0)); }, ThrowsUPSError(GetParam().message));
    EXPECT_TRUE(c.session.device());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteConfigReadBack,
    testing::Values(
        ReadBackCase{"OtherResistance", [](BoardFaults& f) { f.readBackResistance = 121000; },
                     "参数写入后读回不一致，请重新读取"},
        ReadBackCase{"OtherNominal", [](BoardFaults& f) { f.readBackNominal = 1; }, "参数写入后读回不一致，请重新读取"},
        ReadBackCase{"UnconfiguredCapacity", [](BoardFaults& f) { f.readBackCapacity = 0; },
                     "电池参数超出允许范围：容量 500–20000 mAh，内阻 1–1000 mΩ"},
        ReadBackCase{"ReadFails", [](BoardFaults& f) { f.getStatus[7] = 71; }, "读取 Report 7 失败：0x00000047"},
        ReadBackCase{"ShortReadBack", [](BoardFaults& f) { f.replyLength[7] = 7; }, "USB 报告长度或标识不符"},
        ReadBackCase{"WriteFails", [](BoardFaults& f) { f.setStatus[7] = 32; }, "写入 USB Report 7 失败：0x00000020"}),
    [](const auto& test) { return test.param.name; });
