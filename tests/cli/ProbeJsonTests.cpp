#include "Process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar::test;
using testing::ElementsAre;

namespace {

ProcessResult probeJson(const std::string& simulator, std::vector<std::string> arguments = {}) {
    ProcessOptions options;
    options.setEnv["QUELMAR_SIMULATOR"] = simulator;
    arguments.insert(arguments.begin(), {"--probe", "--json"});
    return runProcess(QUELMAR_EXECUTABLE, arguments, options);
}

std::string boards(const std::string& file) {
    return std::string(QUELMAR_TEST_DATA) + "/boards/" + file;
}

} // namespace

TEST(ProbeJson, EveryStepIsOneObjectPerLine) {
    const auto result = probeJson(boards("full.json"));
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(
        lines(result.out),
        ElementsAre(
            R"({"bootloader":false,"id":"location:17825792","product":"Quelmar DC UPS","serial":"QM2A000301","type":"board"})",
            R"({"hardware":"1.2","software":"1.0.8","type":"identity"})",
            R"({"capacity":2600,"nominal":2,"resistanceMicroOhms":45000,"type":"config"})",
            R"({"batteryCurrent":-1.5,"batteryVoltage":12.0,"capacity":87,"flags":["mains","discharging","batteryPresent"],)"
            R"("inputCurrent":0.5,"inputVoltage":12.34,"load":18,"output12Current":-0.02,"output12Voltage":12.05,)"
            R"("output5Current":0.01,"output5Voltage":5.0,"runtime":9120,"sample":1,"status":69,"temperature":25.0,)"
            R"("type":"sample"})"));
}

TEST(ProbeJson, FailuresAreObjectsToo) {
    EXPECT_EQ(probeJson(boards("none.json")).out, "");
    const auto failed = probeJson(boards("open-fails.json"));
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(lines(failed.out),
                ElementsAre(testing::StartsWith(R"({"bootloader":false,)"),
                            R"({"message":"USB 打开失败：0x0000000d，请关闭占用设备的其他客户端","type":"error"})"));
    const auto badCount = probeJson(boards("full.json"), {"--samples", "0"});
    EXPECT_EQ(badCount.status, 1);
    EXPECT_EQ(badCount.out, R"({"message":"--samples requires a count from 1 to 3600","type":"error"})"
                            "\n");
}
