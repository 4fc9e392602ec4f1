#include "LineClient.h"
#include "Process.h"
#include "TemporaryDirectory.h"
#include "core/StatusBits.h"
#include "device/HIDSession.h"
#include "device/emulator/EmulatedPlatform.h"
#include "network/UPSServer.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

// Debian's clients as real processes against the endpoint on loopback.
class ClientTools : public testing::Test {
protected:
    std::string ups() const { return "quelmar@127.0.0.1:" + std::to_string(server.ports()[0]); }

    // The tool's standard output; it must succeed.
    static std::string run(const char* tool, const std::vector<std::string>& arguments) {
        const auto result = runProcess(tool, arguments);
        EXPECT_EQ(result.status, 0) << tool << ": " << result.err;
        return result.out;
    }

    // What the board gives now, as monitoring publishes it once a second.
    void publishFrom(HIDSession& session) {
        const auto& d = *session.device();
        server.publish(UPSState::of({d.product, d.serial, session.info()}, session.snapshot(), false, "2.0.1"));
    }
    void publish(std::int64_t status) {
        Snapshot s;
        s.capacity = status & StatusBit::batteryLow ? 15 : 60;
        s.status = status | StatusBit::batteryPresent;
        server.publish(UPSState::of({"Quelmar DC UPS", "QM1", std::nullopt}, s, false, "2.0.1"));
    }

    UPSServer server{
        {{ListenAddress::parse("127.0.0.1:0")}, {"quelmar", "Quelmar DC UPS", "Quelmar 2.0.1", {{"mon", "secret"}}}}};
};

} // namespace

TEST_F(ClientTools, UpscReadsTheEmulatedBoardsExactVariables) {
    BoardDescription board;
    board.serial = "QM2A000301";
    board.telemetry.batteryCurrent = -1.5;
    board.telemetry.inputVoltage = 0;
    board.telemetry.status = 0x64; // discharging, battery low, battery present
    EmulatedPlatform hid({board});
    HIDSession session(hid);
    session.connect(HIDSession::discover(hid).at(0).id);
    publishFrom(session);
    EXPECT_THAT(lines(run(QUELMAR_UPSC, {ups()})),
                ElementsAre("battery.charge: 87", "battery.current: -1.50", "battery.runtime: 9120",
                            "battery.voltage: 12.18", "device.mfr: Quelmar", "device.model: Quelmar DC UPS",
                            "device.serial: QM2A000301", "device.type: ups", "driver.name: quelmar",
                            "driver.version: 2.0.1", "input.current: 2.10", "input.voltage: 0.00",
                            "output.voltage: 12.01", "ups.firmware: 1.0.8", "ups.load: 18", "ups.status: OB DISCHRG LB",
                            "ups.temperature: 29.5"));
}

TEST_F(ClientTools, UpscSeesTheBoardGoOnBattery) {
    // The standard board charges for five minutes, then runs on battery; its clock moves only here.
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    EmulatedPlatform hid({BoardDescription::standard()}, [now] { return *now; });
    HIDSession session(hid);
    session.connect(HIDSession::discover(hid).at(0).id);
    publishFrom(session);
    EXPECT_EQ(run(QUELMAR_UPSC, {ups(), "ups.status"}), "OL CHRG\n");
    *now += 301s;
    publishFrom(session);
    EXPECT_EQ(run(QUELMAR_UPSC, {ups(), "ups.status"}), "OB DISCHRG\n");
    EXPECT_THAT(run(QUELMAR_UPSC, {ups(), "battery.current"}), testing::StartsWith("-"));
}

TEST_F(ClientTools, ListingsOfAUPSWithoutWritableVariablesOrCommands) {
    publish(StatusBit::mains);
    EXPECT_EQ(run(QUELMAR_UPSC, {"-l", "127.0.0.1:" + std::to_string(server.ports()[0])}), "quelmar\n");
    LineClient monitor(server.ports()[0]);
    for (const char* request : {"USERNAME mon", "PASSWORD secret", "LOGIN quelmar"}) {
        EXPECT_EQ(monitor.ask(request), "OK");
    }
    EXPECT_EQ(run(QUELMAR_UPSC, {"-c", ups()}), "127.0.0.1\n");
    EXPECT_EQ(run(QUELMAR_UPSRW, {ups()}), "");
    EXPECT_EQ(run(QUELMAR_UPSCMD, {"-l", ups()}), "Instant commands supported on UPS [quelmar]:\n\n");
    server.publish(UPSState{});
    const auto stale = runProcess(QUELMAR_UPSC, {ups(), "ups.status"});
    EXPECT_NE(stale.status, 0);
    EXPECT_THAT(stale.err, testing::HasSubstr("Data stale"));
}

// upsmon, set up in a temporary directory as a secondary whose shutdown command writes a file, shuts "down" once the
// UPS is on battery with its battery low, and not before.
TEST_F(ClientTools, UpsmonShutsDownAtLowBatteryAndNotBefore) {
    TemporaryDirectory dir;
    const auto shutdownFile = dir / "shutdown";
    std::ofstream(dir / "upsmon.conf") << "MONITOR " << ups() << " 1 mon secret secondary\nMINSUPPLIES 1\n"
                                       << "SHUTDOWNCMD \"/bin/touch " << shutdownFile.string() << "\"\n"
                                       << "POWERDOWNFLAG " << (dir / "killpower").string() << "\n"
                                       << "POLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 1\nDEADTIME 5\nFINALDELAY 0\n";
    std::string program = QUELMAR_UPSMON;
    std::vector<std::string> arguments = {"-F"};
    // As root, upsmon keeps its PID file in the system's directory; as nobody it cannot, and leaves it alone.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
        program = QUELMAR_SETPRIV;
        arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", QUELMAR_UPSMON, "-F"};
    }
    ProcessOptions options;
    options.setEnv = {{"NUT_CONFPATH", dir.path()}, {"NUT_STATEPATH", dir.path()}, {"NUT_ALTPIDPATH", dir.path()}};
    options.timeout = 30s;

    publish(StatusBit::mains);
    auto upsmon = std::async(std::launch::async, [&] { return runProcess(program, arguments, options); });
    LineClient watcher(server.ports()[0]);
    for (int i = 0; i < 100 && watcher.ask("GET NUMLOGINS quelmar") != "NUMLOGINS quelmar 1"; ++i) {
        std::this_thread::sleep_for(100ms);
    }
    publish(StatusBit::discharging);
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(std::filesystem::exists(shutdownFile)) << "shut down on battery with charge left";
    publish(StatusBit::discharging | StatusBit::batteryLow);
    const auto result = upsmon.get();
    EXPECT_TRUE(std::filesystem::exists(shutdownFile)) << result.out << result.err;
    EXPECT_THAT(result.err, testing::HasSubstr("Executing automatic power-fail shutdown"));
}
