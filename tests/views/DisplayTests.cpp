#include "views/Display.h"
#include "views/HistoryDisplay.h"

#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::Display;

namespace {

Snapshot withStatus(std::int64_t status) {
    Snapshot snapshot;
    snapshot.status = status;
    return snapshot;
}

Snapshot withRuntime(std::int64_t seconds) {
    Snapshot snapshot;
    snapshot.runtime = seconds;
    return snapshot;
}

} // namespace

TEST(Display, PowerLineTestsChargingBeforeBatteryBeforeMains) {
    const DeviceChoice boot{"location:1", "Quelmar DC UPS", "QM1", true};
    EXPECT_EQ(powerSource(std::nullopt, std::nullopt), "等待设备");
    EXPECT_EQ(powerSource(std::nullopt, boot), "固件升级模式");
    EXPECT_EQ(powerSource(std::nullopt, DeviceChoice{"location:1", "Quelmar DC UPS", "QM1", false}), "等待设备");
    EXPECT_EQ(powerSource(withStatus(0x3), std::nullopt), "充电中");
    EXPECT_EQ(powerSource(withStatus(0x5), std::nullopt), "电池供电");
    EXPECT_EQ(powerSource(withStatus(0x6), std::nullopt), "充电中");
    EXPECT_EQ(powerSource(withStatus(0x41), std::nullopt), "市电供电");
    EXPECT_EQ(powerSource(withStatus(0x40), boot), "电源状态待确认");
}

TEST(Display, RuntimeInWholeHoursAndMinutes) {
    EXPECT_EQ(runtime(withRuntime(7260)), "预计续航 2 小时 1 分钟");
    EXPECT_EQ(runtime(withRuntime(59)), "预计续航 0 小时 0 分钟");
    EXPECT_EQ(runtime(withRuntime(3599)), "预计续航 0 小时 59 分钟");
    EXPECT_EQ(runtime(withStatus(0)), "预计续航 —");
    EXPECT_EQ(runtime(std::nullopt), "预计续航 —");
}

TEST(Display, MeasurementsWithTheirPrecisionAndProductsOnlyOfTwoValues) {
    EXPECT_EQ(metric(57, "%", 0), "57 %");
    EXPECT_EQ(metric(-1.5, "A", 2), "-1.50 A");
    EXPECT_EQ(metric(29.46, "°C", 1), "29.5 °C");
    EXPECT_EQ(metric(0, "V", 2), "0.00 V");
    EXPECT_EQ(metric(std::nullopt, "V", 2), "—");
    EXPECT_EQ(product(12.0, -0.5), -6.0);
    EXPECT_EQ(product(std::nullopt, 2.0), std::nullopt);
    EXPECT_EQ(product(2.0, std::nullopt), std::nullopt);

    Snapshot snapshot;
    EXPECT_EQ(charge(snapshot), "—");
    snapshot.capacity = 57;
    EXPECT_EQ(charge(snapshot), "57%");
    EXPECT_EQ(charge(std::nullopt), "—");
}

TEST(Display, StatusLineIsOrangeForOverloadOrShutdown) {
    EXPECT_EQ(statusLine(std::nullopt), std::nullopt);
    const auto none = statusLine(withStatus(0));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->text, "暂无状态标记");
    EXPECT_FALSE(none->warning);
    const auto overload = statusLine(withStatus(0x0081));
    EXPECT_EQ(overload->text, "市电供电 · 过载");
    EXPECT_TRUE(overload->warning);
    EXPECT_TRUE(statusLine(withStatus(0x0100))->warning);
    EXPECT_EQ(statusLine(withStatus(0x0043))->text, "市电供电 · 充电中 · 电池在位");
    EXPECT_FALSE(statusLine(withStatus(0x007F))->warning);
}

TEST(Display, TheSerialIsLeftOutWhenTheBoardHasNone) {
    const DeviceChoice noSerial{"location:2", "Quelmar DC UPS", "", true};
    EXPECT_EQ(connectionDetail("Bootloader 模式", noSerial), "Bootloader 模式");
    EXPECT_EQ(connectionDetail("正在查找设备", std::nullopt), "正在查找设备");
}

TEST(Display, LengthsAsAPersonSaysThemToTheSecondUnderAnHour) {
    // clang-format off
    const std::vector<std::pair<std::int64_t, QString>> cases = {
        {0,      "0 秒"},
        {59,     "59 秒"},
        {60,     "1 分"},
        {185,    "3 分 5 秒"},
        {3600,   "1 小时"},
        {7530,   "2 小时 5 分"},
        {86399,  "23 小时 59 分"},
        {90000,  "1 天 1 小时"},
        {604800, "7 天"},
    };
    // clang-format on
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(duration(std::chrono::seconds(seconds)), text) << seconds;
    }
}

TEST(Display, AMainsLossSaysHowLongItLastedAndTheLowestCharge) {
    const HistoryTime lost{std::chrono::seconds(1'800'000'000)};
    const HistoryEvent event{lost, HistoryEventKind::mainsLost, "市电中断，电池供电"};
    const auto with = [&](Outage outage) { return eventText(event, std::vector<Outage>{outage}); };
    using std::chrono::seconds;
    EXPECT_EQ(with({lost, lost + seconds(720), true, seconds(720), 41}),
              "市电中断，电池供电 · 持续 12 分 · 最低电量 41%");
    EXPECT_EQ(with({lost, std::nullopt, false, seconds(65), std::nullopt}), "市电中断，电池供电 · 已持续 1 分 5 秒");
    EXPECT_EQ(with({lost, lost + seconds(30), false, seconds(30), 80}),
              "市电中断，电池供电 · 至少持续 30 秒 · 最低电量 80%")
        << "the board was lost before the mains returned";
    EXPECT_EQ(with({lost + seconds(1), std::nullopt, false, seconds(5), 80}), "市电中断，电池供电") << "not this one's";
    EXPECT_EQ(eventText({lost, HistoryEventKind::mainsRestored, "市电恢复"}, std::vector<Outage>{}), "市电恢复");
}
