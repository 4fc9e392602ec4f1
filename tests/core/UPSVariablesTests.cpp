#include "core/StatusBits.h"
#include "core/UPSVariables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;

namespace {

std::string listed(const UPSState& state) {
    std::string out;
    for (const auto& v : state.variables) {
        out += v.name + "=" + v.value + (v.number ? "\n" : " (text)\n");
    }
    return out;
}

} // namespace

TEST(UPSVariables, FullSampleAtTheBoardsResolution) {
    const Snapshot s{.capacity = 9,
                     .runtime = 540,
                     .batteryVoltage = 12.56,
                     .batteryCurrent = -1.5,
                     .temperature = 29.0,
                     .inputVoltage = 0.0,
                     .inputCurrent = 0.0,
                     .output5Voltage = 5.02,
                     .output5Current = 0.8,
                     .output12Voltage = 12.01,
                     .output12Current = 0.45,
                     .load = 18,
                     .status = 0x0064}; // discharging, battery low, battery present
    const auto state = UPSState::of({"Quelmar DC UPS", "QM1", DeviceInfo("1.2", "1.0.8")}, s, false, "2.0.1");
    EXPECT_FALSE(state.stale);
    EXPECT_EQ(listed(state), "battery.charge=9\n"
                             "battery.current=-1.50\n"
                             "battery.runtime=540\n"
                             "battery.voltage=12.56\n"
                             "device.mfr=Quelmar (text)\n"
                             "device.model=Quelmar DC UPS (text)\n"
                             "device.serial=QM1 (text)\n"
                             "device.type=ups (text)\n"
                             "driver.name=quelmar (text)\n"
                             "driver.version=2.0.1 (text)\n"
                             "input.current=0.00\n"
                             "input.voltage=0.00\n"
                             "output.voltage=12.01\n"
                             "ups.firmware=1.0.8 (text)\n"
                             "ups.load=18\n"
                             "ups.status=OB DISCHRG LB (text)\n"
                             "ups.temperature=29.0\n");
    EXPECT_EQ(state.find("ups.load")->value, "18");
    EXPECT_EQ(state.find("ups.lo"), nullptr);
}

TEST(UPSVariables, WhatTheBoardDoesNotReportIsNotServed) {
    Snapshot legacy;
    legacy.capacity = 55;
    legacy.status = StatusBit::mains;
    const auto state = UPSState::of({"Vetrola UPS", "V1", std::nullopt}, legacy, true, "2.0.1");
    EXPECT_EQ(state.find("ups.firmware"), nullptr);
    EXPECT_EQ(state.find("output.voltage"), nullptr);
    EXPECT_EQ(state.find("ups.status")->value, "FSD OL");
    EXPECT_EQ(state.variables.size(), 8U);
}

TEST(UPSVariables, StatusWords) {
    using namespace StatusBit;
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "OB"},
        {mains | batteryPresent | full, "OL"},
        {mains | charging, "OL CHRG"},
        {discharging | batteryLow, "OB DISCHRG LB"},
        {discharging | shutdownImminent, "OB DISCHRG LB"},
        {batteryLow | shutdownImminent, "OB LB"},
        {mains | replaceBattery | overload, "OL RB OVER"},
        {0x1FF, "OL CHRG DISCHRG LB RB OVER"},
    };
    for (const auto& [status, words] : cases) {
        EXPECT_EQ(upsStatus(status, false), words) << status;
    }
    EXPECT_EQ(upsStatus(discharging | batteryLow, true), "FSD OB DISCHRG LB");
}

TEST(UPSVariables, DecimalsKeepTheSignAndNeverShowMinusZero) {
    EXPECT_EQ(decimal(12.56, 2), "12.56");
    EXPECT_EQ(decimal(12.6, 2), "12.60");
    EXPECT_EQ(decimal(-0.01, 2), "-0.01");
    EXPECT_EQ(decimal(-327.68, 2), "-327.68");
    EXPECT_EQ(decimal(-0.001, 2), "0.00");
    EXPECT_EQ(decimal(-0.0, 1), "0.0");
    EXPECT_EQ(decimal(6553.5, 1), "6553.5");
}

TEST(UPSVariables, Descriptions) {
    EXPECT_EQ(upsVariableDescription("ups.status"), "UPS status");
    EXPECT_EQ(upsVariableDescription("ups.mfr"), "Unavailable");
}
