#include "core/StatusBits.h"
#include "core/UPSVariables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;

TEST(UPSVariables, WhatTheBoardDoesNotReportIsNotServed) {
    Snapshot legacy;
    legacy.capacity = 55;
    legacy.status = StatusBit::mains;
    const auto state = UPSState::of({"Vetrola UPS", "V1", std::nullopt}, legacy, true, "2.0.1");
    EXPECT_EQ(state.find("ups.firmware"), nullptr);
    EXPECT_EQ(state.find("output.voltage"), nullptr);
    EXPECT_EQ(state.find("ups.status")->value, "FSD OL");
    EXPECT_EQ(state.variables.size(), 8U);
    EXPECT_FALSE(state.stale);
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
    EXPECT_EQ(decimal(12.6, 2), "12.60");
    EXPECT_EQ(decimal(-327.68, 2), "-327.68");
    EXPECT_EQ(decimal(-0.001, 2), "0.00");
    EXPECT_EQ(decimal(-0.0, 1), "0.0");
}
