#include "core/Snapshot.h"
#include "core/UPSError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::ThrowsMessage;

namespace {

// clang-format off
const Bytes fullReport = {
    0x08,        // report ID
    0x64,        // capacity 100 %
    0x10, 0x0E,  // runtime 3600 s
    0x48, 0x05,  // battery 13.52 V
    0x9C, 0xFF,  // battery current -1.00 A
    0xFA, 0x00,  // temperature 25.0 °C
    0xB0, 0x04,  // input 12.00 V
    0x7D, 0x00,  // input current 1.25 A
    0xF4, 0x01,  // output5 5.00 V
    0xCE, 0xFF,  // output5 current -0.50 A
    0xB0, 0x04,  // output12 12.00 V
    0x64, 0x00,  // output12 current 1.00 A
    0x2A,        // load 42 %
    0x45, 0x00,  // status: mains, discharging, battery present (word at odd offset 23)
};
const Bytes summary = {0x01, 0x37, 0, 0, 0, 0, 0x03, 0x00};
const Bytes input = {0x02, 0xB0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes output = {0x03, 0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes battery = {
    0x04,
    0x58, 0x02,              // runtime 600 s
    0, 0, 0, 0,              // unused
    0x20, 0x03,              // battery 8.00 V
    0x38, 0xFF,              // battery current -2.00 A
    0, 0,                    // unused
    0x2C, 0x01,              // temperature 30.0 °C
};
// clang-format on

Bytes with(Bytes bytes, std::size_t offset, std::initializer_list<std::uint8_t> values) {
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

} // namespace

TEST(Snapshot, DefaultIsAllAbsent) {
    const Snapshot s;
    EXPECT_FALSE(s.capacity || s.runtime || s.batteryVoltage || s.batteryCurrent || s.temperature || s.inputVoltage ||
                 s.inputCurrent || s.output5Voltage || s.output5Current || s.output12Voltage || s.output12Current ||
                 s.load);
    EXPECT_EQ(s.status, 0);
    EXPECT_FALSE(s.batteryPower());
}

TEST(Snapshot, FullDecodesEveryFieldWithItsScaleAndSign) {
    const auto s = Snapshot::full(fullReport);
    EXPECT_EQ(s.capacity, 100);
    EXPECT_EQ(s.runtime, 3600);
    EXPECT_DOUBLE_EQ(*s.batteryVoltage, 13.52);
    EXPECT_DOUBLE_EQ(*s.batteryCurrent, -1.0);
    EXPECT_DOUBLE_EQ(*s.temperature, 25.0);
    EXPECT_DOUBLE_EQ(*s.inputVoltage, 12.0);
    EXPECT_DOUBLE_EQ(*s.inputCurrent, 1.25);
    EXPECT_DOUBLE_EQ(*s.output5Voltage, 5.0);
    EXPECT_DOUBLE_EQ(*s.output5Current, -0.5);
    EXPECT_DOUBLE_EQ(*s.output12Voltage, 12.0);
    EXPECT_DOUBLE_EQ(*s.output12Current, 1.0);
    EXPECT_EQ(s.load, 42);
    EXPECT_EQ(s.status, 0x45);
    EXPECT_DOUBLE_EQ(*s.batteryPower(), -13.52);
}

TEST(Snapshot, TemperatureIsUnsignedAndCurrentsAreSigned) {
    EXPECT_DOUBLE_EQ(*Snapshot::full(with(fullReport, 8, {0xFF, 0xFF})).temperature, 6553.5);
    // The current's bytes read as a voltage word would be 654.36 V.
    const auto s = Snapshot::full(with(fullReport, 4, {0x9C, 0xFF}));
    EXPECT_DOUBLE_EQ(*s.batteryVoltage, 654.36);
    EXPECT_DOUBLE_EQ(*s.batteryCurrent, -1.0);
}

TEST(Snapshot, StatusWordEndsAtTheLastByte) {
    EXPECT_EQ(Snapshot::full(with(fullReport, 23, {0x00, 0x01})).status, 0x100);
}

TEST(Snapshot, FullReportLength) {
    Bytes shortReport(fullReport.begin(), fullReport.end() - 1);
    EXPECT_THAT([&] { Snapshot::full(shortReport); }, ThrowsMessage<UPSError>("Report 8 长度或标识错误"));
    Bytes longReport = fullReport;
    longReport.push_back(0xEE);
    EXPECT_EQ(Snapshot::full(longReport), Snapshot::full(fullReport));
    EXPECT_THAT([] { Snapshot::full(with(fullReport, 0, {7})); }, ThrowsMessage<UPSError>("Report 8 长度或标识错误"));
}

TEST(Snapshot, LegacyFillsItsSubsetAndLeavesTheRestAbsent) {
    const auto s = Snapshot::legacy(summary, input, output, battery);
    EXPECT_EQ(s.capacity, 0x37);
    EXPECT_EQ(s.status, 0x03);
    EXPECT_DOUBLE_EQ(*s.inputVoltage, 12.0);
    EXPECT_EQ(s.load, 0x21);
    EXPECT_EQ(s.runtime, 600);
    EXPECT_DOUBLE_EQ(*s.batteryVoltage, 8.0);
    EXPECT_DOUBLE_EQ(*s.batteryCurrent, -2.0);
    EXPECT_DOUBLE_EQ(*s.temperature, 30.0);
    EXPECT_FALSE(s.inputCurrent || s.output5Voltage || s.output5Current || s.output12Voltage || s.output12Current);
    EXPECT_DOUBLE_EQ(*s.batteryPower(), -16.0);
}

TEST(Snapshot, LegacyChecksReportsInOrder) {
    const Bytes shortBattery(battery.begin(), battery.end() - 1);
    EXPECT_THAT([&] { Snapshot::legacy(summary, input, output, shortBattery); },
                ThrowsMessage<UPSError>("Report 4 长度或标识错误"));
    // A wrong summary fails first even when every other report is broken too.
    EXPECT_THAT([&] { Snapshot::legacy(with(summary, 0, {9}), Bytes{}, Bytes{}, Bytes{}); },
                ThrowsMessage<UPSError>("Report 1 长度或标识错误"));
    EXPECT_THAT([&] { Snapshot::legacy(summary, Bytes(input.begin(), input.end() - 1), Bytes{}, Bytes{}); },
                ThrowsMessage<UPSError>("Report 2 长度或标识错误"));
    EXPECT_THAT([&] { Snapshot::legacy(summary, input, with(output, 0, {2}), Bytes{}); },
                ThrowsMessage<UPSError>("Report 3 长度或标识错误"));
}

TEST(Snapshot, StatusLabelsInBitOrder) {
    Snapshot s;
    s.status = 0x0045;
    EXPECT_THAT(s.statuses(), ElementsAre("市电供电", "放电中", "电池在位"));
    s.status = 0xFE00;
    EXPECT_THAT(s.statuses(), IsEmpty());
    s.status = 0x01FF;
    EXPECT_THAT(s.statuses(), ElementsAre("市电供电", "充电中", "放电中", "已充满", "需更换电池", "电量低", "电池在位",
                                          "过载", "即将关机"));
}

TEST(Snapshot, BatteryPowerNeedsBothValues) {
    Snapshot s;
    s.batteryVoltage = 12.5;
    EXPECT_FALSE(s.batteryPower());
    s.batteryCurrent = 2.0;
    EXPECT_DOUBLE_EQ(*s.batteryPower(), 25.0);
}
