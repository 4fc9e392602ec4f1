// quelmar --watch as a real process on emulated boards, read by Debian's nut-client tools (upsc, and upsmon as a
// secondary whose shutdown command writes a file).
#include "Process.h"
#include "TemporaryDirectory.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quelmar::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

constexpr int onBattery = 0x44;     // discharging, battery present
constexpr int batteryLow = 0x64;    // the same with battery low
constexpr int mainsCharging = 0x43; // mains, charging, battery present

// The full telemetry of a board with this charge and status, as the emulator's "telemetry".
std::string telemetry(int charge, int status) {
    return R"("telemetry": {"capacity": )" + std::to_string(charge) + R"(, "runtime": )" + std::to_string(charge * 60) +
           R"(, "batteryVoltage": 12.0, "batteryCurrent": -1.5, "temperature": 25.0, "inputVoltage": 0.0,)"
           R"( "inputCurrent": 0.0, "output5Voltage": 5.0, "output5Current": 0.2, "output12Voltage": 12.05,)"
           R"( "output12Current": 0.4, "load": 18, "status": )" +
           std::to_string(status) + "}";
}

// Report 8 as the board answers it, in the emulator's recorded form.
std::string report8(int charge, int status) {
    // clang-format off
    const int bytes[25] = {
        0x08,                                    // report ID
        charge,                                  // capacity %
        (charge * 60) & 0xFF, (charge * 60) >> 8, // runtime s
        0xB0, 0x04,                              // battery 12.00 V
        0x6A, 0xFF,                              // battery -1.50 A
        0xFA, 0x00,                              // 25.0 °C
        0x00, 0x00, 0x00, 0x00,                  // input 0 V, 0 A
        0xF4, 0x01, 0x14, 0x00,                  // 5 V rail 5.00 V, 0.20 A
        0xB5, 0x04, 0x28, 0x00,                  // 12 V rail 12.05 V, 0.40 A
        18,                                      // load %
        status & 0xFF, status >> 8,              // status bits
    };
    // clang-format on
    std::string hex;
    for (const int b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", b);
        hex += two;
    }
    hex.pop_back();
    return R"({"interface": "vendor", "type": "feature", "id": 8, "bytes": ")" + hex + R"("})";
}

class Watch : public testing::Test {
protected:
    // A description of one board with these members, in the temporary directory.
    std::string board(const std::string& members) {
        const auto path = dir / "board.json";
        std::ofstream(path) << R"({"boards": [{"serial": "QM2A000301", "location": 17825792, )" << members << "}]}";
        return path;
    }

    // quelmar --watch with these options, its history in the temporary directory.
    std::unique_ptr<RunningProcess> watch(const std::string& boardFile, std::vector<std::string> arguments) {
        ProcessOptions options;
        options.setEnv = {{"QUELMAR_SIMULATOR", boardFile}, {"XDG_DATA_HOME", dir.path()}};
        arguments.insert(arguments.begin(), "--watch");
        return std::make_unique<RunningProcess>(QUELMAR_EXECUTABLE, arguments, options);
    }

    // The endpoint's UPS from the monitor's first line ("... serving UPS quelmar on 127.0.0.1:PORT", or JSON).
    static std::string upsFrom(const std::string& line) {
        const auto at = line.find("127.0.0.1:");
        return "quelmar@" + line.substr(at, line.find_first_not_of("0123456789.:", at) - at);
    }

    static std::string upsc(const std::vector<std::string>& arguments) {
        return runProcess(QUELMAR_UPSC, arguments).out;
    }

    TemporaryDirectory dir;
};

std::vector<json> parsed(const std::vector<std::string>& lines) {
    std::vector<json> out;
    std::transform(lines.begin(), lines.end(), std::back_inserter(out),
                   [](const std::string& line) { return json::parse(line); });
    return out;
}

std::vector<std::string> events(const std::vector<json>& records) {
    std::vector<std::string> out;
    for (const auto& record : records) {
        if (record["type"] == "event") {
            out.push_back(record["event"]);
        }
    }
    return out;
}

} // namespace

TEST_F(Watch, JsonLinesForEverySampleAndEventAndTheBoardOverUpsc) {
    auto monitor = watch(std::string(QUELMAR_TEST_DATA) + "/boards/full.json", {"--json", "--listen", "127.0.0.1:0"});
    const auto seen = monitor->linesUntil(R"("sample":2)");
    ASSERT_TRUE(seen);
    const auto records = parsed(*seen);
    EXPECT_EQ(records[0]["type"], "listening");
    EXPECT_EQ(records[0]["ups"], "quelmar");
    EXPECT_EQ(records[1]["event"], "connected");
    EXPECT_EQ(records[1]["detail"], "Quelmar DC UPS (serial QM2A000301, id location:17825792, firmware 1.0.8)");
    EXPECT_EQ(records[2]["sample"], 1);
    EXPECT_EQ(records[2]["capacity"], 87);
    EXPECT_EQ(records[2]["flags"], json({"mains", "discharging", "batteryPresent"}));
    for (const auto& record : records) {
        EXPECT_THAT(record["time"].get<std::string>(), testing::MatchesRegex(R"(20..-..-..T..:..:..\....Z)"));
    }
    EXPECT_THAT(lines(upsc({upsFrom(seen->front())})),
                ElementsAre("battery.charge: 87", "battery.current: -1.50", "battery.runtime: 9120",
                            "battery.voltage: 12.00", "device.mfr: Quelmar", "device.model: Quelmar DC UPS",
                            "device.serial: QM2A000301", "device.type: ups", "driver.name: quelmar",
                            "driver.version: 2.0.1", "input.current: 0.50", "input.voltage: 12.34",
                            "output.voltage: 12.05", "ups.firmware: 1.0.8", "ups.load: 18", "ups.status: OL DISCHRG",
                            "ups.temperature: 25.0"));
    monitor->signal(SIGTERM);
    EXPECT_EQ(monitor->finish().status, 0);
}

TEST_F(Watch, SigtermAndSigintEndItWithStatusZero) {
    for (const int number : {SIGTERM, SIGINT}) {
        auto monitor = watch(board(telemetry(60, mainsCharging)), {"--listen", "127.0.0.1:0"});
        ASSERT_TRUE(monitor->linesUntil(" connected: "));
        monitor->signal(number);
        const auto result = monitor->finish(10s);
        EXPECT_EQ(result.status, 0) << number << result.err;
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(Watch, TextLinesNameTheEventWithItsTime) {
    auto monitor = watch(board(telemetry(8, batteryLow)), {});
    const auto seen = monitor->linesUntil("battery low");
    ASSERT_TRUE(seen);
    EXPECT_THAT(*seen, ElementsAre(testing::MatchesRegex(R"(20..-..-..T..:..:..Z connected: Quelmar DC UPS \(serial )"
                                                         R"(QM2A000301, id location:17825792, firmware 1.0.8\))"),
                                   testing::EndsWith("Z mains lost: charge 8 %, runtime 480 s"),
                                   testing::EndsWith("Z battery low: charge 8 %, runtime 480 s")));
}

// The low-battery action wired into the monitor: it runs once, after three samples below the threshold off mains, only
// for real without --dry-run, and a loss starts the count over. When it must not fire is the rule's own tests' part.
struct ActionCase {
    const char* name;
    std::string board;
    std::vector<std::string> options;
    bool fires;
    bool commandRuns; // not with --dry-run
};

class LowBatteryAction : public Watch, public testing::WithParamInterface<ActionCase> {};

TEST_P(LowBatteryAction, RunsOnceOffMains) {
    const auto& c = GetParam();
    const auto ran = dir / "ran";
    auto options = c.options;
    options.insert(options.end(), {"--json", "--listen", "127.0.0.1:0", "--shutdown-below", "10", "--shutdown-command",
                                   "echo ran >> " + ran.string()});
    auto monitor = watch(board(c.board), options);
    const auto first = monitor->line();
    ASSERT_TRUE(first);
    std::vector<std::string> seen;
    if (c.fires) {
        auto upToAction = monitor->linesUntil("shutdown-started", 20s);
        ASSERT_TRUE(upToAction) << "the action never ran";
        seen = *upToAction;
    }
    // Samples go on meanwhile (at least three); none starts the action (again).
    for (const auto deadline = std::chrono::steady_clock::now() + (c.fires ? 3s : 5s);
         std::chrono::steady_clock::now() < deadline;) {
        if (auto line = monitor->line(100ms)) {
            seen.push_back(*line);
        }
    }
    const auto status = upsc({upsFrom(*first), "ups.status"});
    monitor->signal(SIGTERM);
    EXPECT_EQ(monitor->finish().status, 0);

    const auto records = parsed(seen);
    const auto raised = events(records);
    EXPECT_EQ(std::count(raised.begin(), raised.end(), "shutdown-started"), c.fires ? 1 : 0);
    if (c.fires) {
        // At least three samples of the board as it is now, connected since.
        const auto action = std::find_if(records.rbegin(), records.rend(),
                                         [](const json& r) { return r.value("event", "") == "shutdown-started"; });
        const auto connected =
            std::find_if(action, records.rend(), [](const json& r) { return r.value("event", "") == "connected"; });
        EXPECT_GE(std::count_if(action, connected, [](const json& r) { return r["type"] == "sample"; }), 3);
        EXPECT_THAT(action->at("detail").get<std::string>(),
                    StartsWith("battery charge 8 % below 10 % for 3 samples; "));
    }
    std::ifstream file(ran);
    const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, c.commandRuns ? "ran\n" : "");
    // The endpoint announces the forced shutdown only when it was real.
    EXPECT_EQ(status.starts_with("FSD "), c.commandRuns) << status;
}

INSTANTIATE_TEST_SUITE_P(
    Boards, LowBatteryAction,
    testing::Values(ActionCase{"onBatteryBelowTheThreshold", telemetry(8, batteryLow), {}, true, true},
                    ActionCase{"dryRun", telemetry(8, batteryLow), {"--dry-run"}, true, false},
                    // Two samples, gone for 2.5 s, then back: three more samples before the action.
                    ActionCase{"lostAfterTwoSamples",
                               telemetry(8, batteryLow) +
                                   R"(, "faults": {"leaveAfterMs": 2500, "returnAfterMs": 2500})",
                               {},
                               true,
                               true}),
    [](const auto& row) { return row.param.name; });

// upsmon on a machine the board does not power follows the monitor's endpoint as a secondary, and shuts "down"
// (its shutdown command writes a file) once the board reads on battery with its battery low, not before.
TEST_F(Watch, UpsmonAsASecondaryShutsDownWhenTheBoardReachesLowBattery) {
    // Six samples on mains, four on battery, then battery low from then on.
    std::string replies;
    for (int i = 0; i < 11; ++i) {
        replies += (i == 0 ? "" : ", ") + (i < 6    ? report8(70, mainsCharging)
                                           : i < 10 ? report8(30, onBattery)
                                                    : report8(9, batteryLow));
    }
    const auto users = dir / "users";
    std::ofstream(users) << "mon secret\n";
    ::chmod(users.c_str(), 0600);
    auto monitor = watch(board(R"("reports": [)" + replies + "]"),
                         {"--json", "--listen", "127.0.0.1:0", "--users", users.string()});
    const auto first = monitor->line();
    ASSERT_TRUE(first);

    TemporaryDirectory upsmonDir;
    const auto& state = upsmonDir.path();
    const auto shutdownFile = state / "shutdown";
    std::ofstream(state / "upsmon.conf") << "MONITOR " << upsFrom(*first) << " 1 mon secret secondary\n"
                                         << "MINSUPPLIES 1\nSHUTDOWNCMD \"/bin/touch " << shutdownFile.string()
                                         << "\"\nPOWERDOWNFLAG " << (state / "killpower").string() << "\n"
                                         << "POLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 1\nDEADTIME 5\nFINALDELAY 0\n";
    std::string program = QUELMAR_UPSMON;
    std::vector<std::string> arguments = {"-F"};
    // As root, upsmon keeps its PID file in the system's directory; as nobody it cannot, and leaves it alone.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(state.c_str(), 65534, 65534), 0);
        program = QUELMAR_SETPRIV;
        arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", QUELMAR_UPSMON, "-F"};
    }
    ProcessOptions options;
    options.setEnv = {{"NUT_CONFPATH", state}, {"NUT_STATEPATH", state}, {"NUT_ALTPIDPATH", state}};
    options.timeout = 40s;
    auto upsmon = std::async(std::launch::async, [&] { return runProcess(program, arguments, options); });

    ASSERT_TRUE(monitor->linesUntil(R"("event":"mains-lost")", 20s));
    EXPECT_FALSE(std::filesystem::exists(shutdownFile)) << "shut down on mains";
    ASSERT_TRUE(monitor->linesUntil(R"("event":"battery-low")", 20s));
    EXPECT_FALSE(std::filesystem::exists(shutdownFile)) << "shut down on battery with charge left";
    const auto result = upsmon.get();
    EXPECT_TRUE(std::filesystem::exists(shutdownFile)) << result.out << result.err;
    EXPECT_THAT(result.err, HasSubstr("Executing automatic power-fail shutdown"));
}

// Options that cannot work are refused before anything starts: one line, status 1.
TEST_F(Watch, BadOptionsAreOneLineAndStatusOne) {
    const auto readable = dir / "users";
    std::ofstream(readable) << "mon secret\n";
    ::chmod(readable.c_str(), 0640);
    const auto full = std::string(QUELMAR_TEST_DATA) + "/boards/full.json";
    const std::string help = "; quelmar --help lists the options";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--shutdown-below", "0"}, "--shutdown-below needs a percentage from 1 to 100, not \"0\"" + help},
        {{"--shutdown-below", "101"}, "--shutdown-below needs a percentage from 1 to 100, not \"101\"" + help},
        {{"--shutdown-runtime", "-5"},
         "--shutdown-runtime needs a number of seconds from 1 to 86400, not \"-5\"" + help},
        {{"--shutdown-command", " "}, "--shutdown-command needs a command" + help},
        {{"--dry-run"}, "--dry-run needs --shutdown-below, --shutdown-runtime or --shutdown-command" + help},
        {{"--listen", "::1:3493"}, "--listen: \"::1:3493\" is not [ADDRESS:]PORT (a port from 0 to 65535)" + help},
        {{"--listen", "70000"}, "--listen: \"70000\" is not [ADDRESS:]PORT (a port from 0 to 65535)" + help},
        {{"--listen"}, "--listen needs a value" + help},
        {{"--users", "x"}, "--users needs --listen" + help},
        {{"--listen", "0", "--ups-name", "my ups"},
         "--ups-name takes letters, digits, '.', '_' and '-' (at most 64), not \"my ups\"" + help},
        {{"--board", "a", "--board", "b"}, "--board is given twice" + help},
        {{"--samples", "3"}, "unknown option for --watch: --samples" + help},
        {{"--listen", "0", "--users", readable.string()},
         readable.string() + ": readable by group or others; it holds passwords (chmod 600 " + readable.string() + ")"},
        {{"--listen", "0", "--users", (dir / "missing").string()},
         (dir / "missing").string() + ": No such file or directory"},
    };
    for (const auto& [options, expected] : cases) {
        const auto result = watch(full, options)->finish();
        EXPECT_EQ(result.status, 1) << expected;
        EXPECT_EQ(result.out, "ERROR: " + expected + "\n");
    }
    // With --json the refusal is an object; a port that is taken is refused as well.
    const auto asJson = watch(full, {"--json", "--shutdown-below", "x"})->finish();
    EXPECT_EQ(asJson.out, R"({"message":"--shutdown-below needs a percentage from 1 to 100, not \"x\"; )"
                          R"(quelmar --help lists the options","type":"error"})"
                          "\n");
    auto first = watch(full, {"--listen", "127.0.0.1:0"});
    const auto taken = upsFrom(first->line().value_or("")).substr(std::string("quelmar@").size());
    const auto second = watch(full, {"--listen", taken})->finish();
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "ERROR: listen on " + taken + ": Address already in use\n");
}
