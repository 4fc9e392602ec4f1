// Runs in the QEMU guest that scripts/kernel-test boots, against boards that quelmar-gadget serves through gadgetfs:
// every transfer goes through hidapi, hidraw, usbhid and the USB stack of a real kernel. Files for the host (the
// recordings, the probes, the gadget's log) go to QUELMAR_KERNEL_OUT.
#include "HexFixtures.h"
#include "Process.h"
#include "TemporaryDirectory.h"
#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "core/BatteryConfig.h"
#include "core/IAP.h"
#include "core/UPSError.h"
#include "device/HIDSession.h"
#include "device/HidapiPlatform.h"
#include "device/SysfsLocation.h"
#include "device/emulator/EmulatedPlatform.h"
#include "system/Processes.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAreArray;
using testing::HasSubstr;

namespace {

const std::filesystem::path boardFiles = std::filesystem::path(QUELMAR_TEST_DATA) / "boards";

// Where the host finds what the guest leaves behind.
std::filesystem::path outputDirectory() {
    const char* const out = std::getenv("QUELMAR_KERNEL_OUT");
    return out != nullptr ? out : std::filesystem::temp_directory_path();
}

// dummy_hcd's root hub has one port: every gadget is bus 1, port 1.
const std::string gadgetID = "location:" + std::to_string(SysfsLocation::encode(1, {1}));

// A board description as a file, from JSON text.
std::filesystem::path describe(const TemporaryDirectory& directory, const std::string& name, const std::string& json) {
    writeFile(directory / name, json);
    return directory / name;
}

// One quelmar-gadget process serving a board: the board is plugged in while it runs.
class Gadget {
public:
    explicit Gadget(const std::filesystem::path& description, const std::filesystem::path& image = {}) {
        std::vector<std::string> arguments{description.string()};
        if (!image.empty()) {
            arguments.insert(arguments.end(), {"--image", image.string()});
        }
        const auto log = (outputDirectory() / "gadget.log").string();
        Processes::FileActions actions;
        actions.open(STDIN_FILENO, "/dev/null", O_RDONLY)
            .open(STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND);
        pid_ = Processes::spawn(QUELMAR_GADGET, arguments, actions);
    }
    ~Gadget() { end(SIGTERM); }
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    // Pulls the cable: the program ends without a word to the host.
    void unplug() { end(SIGKILL); }

private:
    void end(int signal) {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, signal);
        int status = 0;
        for (auto until = std::chrono::steady_clock::now() + 5s; ::waitpid(pid_, &status, WNOHANG) == 0;) {
            if (std::chrono::steady_clock::now() > until) {
                logStacks();
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                ADD_FAILURE() << "the gadget did not end within 5 s of signal " << signal;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
    }

    // Where each of the gadget's threads waits in the kernel, into its log.
    void logStacks() const {
        std::string text;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
            text += "thread " + task.path().filename().string() + ":\n" + readFile(task.path() / "stack");
        }
        writeFile(outputDirectory() / "gadget-stacks.txt", text);
    }

    pid_t pid_ = -1;
};

// Discovery until it satisfies condition, for at most ten seconds (a gadget enumerates in well under one).
std::vector<USBDevice> discoverUntil(HIDPlatform& hid,
                                     const std::function<bool(const std::vector<USBDevice>&)>& condition,
                                     const std::string& what) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (true) {
        auto devices = HIDSession::discover(hid);
        if (condition(devices)) {
            return devices;
        }
        if (std::chrono::steady_clock::now() > until) {
            throw std::runtime_error("waited 10 s for " + what);
        }
        std::this_thread::sleep_for(20ms);
    }
}

USBDevice pluggedBoard(HIDPlatform& hid) {
    return discoverUntil(
               hid, [](const auto& devices) { return devices.size() == 1; }, "the gadget's board")
        .front();
}

void waitUntilUnplugged(HIDPlatform& hid) {
    discoverUntil(
        hid, [](const auto& devices) { return devices.empty(); }, "the board to leave the bus");
}

class KernelTest : public testing::Test {
protected:
    ~KernelTest() override {
        gadget.reset();
        try {
            waitUntilUnplugged(hid);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }

    void plug(const std::filesystem::path& description, const std::filesystem::path& image = {}) {
        gadget = std::make_unique<Gadget>(description, image);
        board = pluggedBoard(hid);
    }

    TemporaryDirectory directory;
    HidapiPlatform hid;
    std::unique_ptr<Gadget> gadget;
    USBDevice board;
};

ProcessResult probe(const std::vector<std::string>& arguments, const std::optional<std::filesystem::path>& simulator) {
    ProcessOptions options;
    if (simulator) {
        options.setEnv["QUELMAR_SIMULATOR"] = simulator->string();
    } else {
        options.unsetEnv.push_back("QUELMAR_SIMULATOR");
    }
    return runProcess(QUELMAR_EXECUTABLE, arguments, options);
}

} // namespace

// ---- The probe: the same lines as on the in-process emulator, a location from sysfs, and a recording of the board.

class Probe : public KernelTest, public testing::WithParamInterface<std::string> {};

TEST_P(Probe, PrintsWhatTheEmulatorPrintsAndRecordsTheBoard) {
    // Without a location in the description, the emulator keys the board by its serial; on the bus, sysfs gives one.
    auto json = nlohmann::json::parse(readFile(boardFiles / (GetParam() + ".json")));
    json["boards"][0].erase("location");
    const auto description = describe(directory, "board.json", json.dump());
    plug(description);
    EXPECT_EQ(board.id, gadgetID);

    const auto recording = outputDirectory() / ("recorded-" + GetParam() + ".json");
    const auto kernel = probe({"--probe", "--samples", "2", "--record", recording.string()}, std::nullopt);
    const auto emulated = probe({"--probe", "--samples", "2"}, description);
    ASSERT_EQ(kernel.status, 0) << kernel.out;
    ASSERT_EQ(emulated.status, 0) << emulated.out;
    auto expected = lines(emulated.out);
    ASSERT_FALSE(expected.empty());
    const auto id = expected[0].rfind(" id=serial:");
    ASSERT_NE(id, std::string::npos) << expected[0];
    expected[0] = expected[0].substr(0, id) + " id=" + gadgetID;
    EXPECT_THAT(lines(kernel.out), ElementsAreArray(expected));
    // scripts/kernel-test replays the recording on the host.
    writeFile(outputDirectory() / ("probe-" + GetParam() + ".txt"), kernel.out);
}

INSTANTIATE_TEST_SUITE_P(Boards, Probe, testing::Values("full", "legacy"));

// ---- Battery parameters written through HIDSession and read back

struct ConfigCase {
    std::string name;
    std::string faults;
    std::optional<std::string> error;
};

void PrintTo(const ConfigCase& c, std::ostream* out) {
    *out << c.name;
}

class ConfigWrite : public KernelTest, public testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigWrite, IsReadBackFromTheBoard) {
    plug(
        describe(directory, "board.json", R"({"boards": [{"serial": "QM1", "faults": {)" + GetParam().faults + "}}]}"));
    HIDSession session(hid);
    session.connect(board.id);
    const BatteryConfig written(3200, 52000, 1);
    if (GetParam().error) {
        try {
            session.writeConfig(written);
            ADD_FAILURE() << "the write was accepted";
        } catch (const UPSError& e) {
            EXPECT_EQ(e.message(), *GetParam().error);
        }
        return;
    }
    session.writeConfig(written);
    EXPECT_EQ(BatteryConfig(session.get(Reports::config, ReportType::feature, false)), written);
}

INSTANTIATE_TEST_SUITE_P(Boards, ConfigWrite,
                         testing::Values(ConfigCase{"Kept", "", std::nullopt},
                                         ConfigCase{"Altered", R"("readBack": {"resistanceMicroOhms": 46000})",
                                                    "参数写入后读回不一致，请重新读取"}),
                         [](const auto& test) { return test.param.name; });

// ---- Reading a report the board answers oddly: the same outcome as on the emulator

struct ReadCase {
    std::string name;
    std::string faults;
    std::string outcome;
};

void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadFaults : public KernelTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadFaults, EndAsOnTheEmulator) {
    const auto json = R"({"boards": [{"serial": "QM1", "location": 17825792, "faults": {)" + GetParam().faults + "}}]}";
    const auto read = [](HIDPlatform& platform, const std::string& id) -> std::string {
        HIDSession session(platform);
        session.connect(id);
        try {
            const auto report = session.get(Reports::telemetry, ReportType::feature, false);
            return std::to_string(report.size()) + " bytes: " + std::string(report.begin(), report.end());
        } catch (const UPSError& e) {
            return e.message();
        }
    };
    EmulatedPlatform emulated(BoardDescription::parse(json));
    const auto onTheEmulator = read(emulated, HIDSession::discover(emulated).at(0).id);
    plug(describe(directory, "board.json", json));
    EXPECT_EQ(read(hid, board.id), onTheEmulator);
    EXPECT_THAT(onTheEmulator, testing::StartsWith(GetParam().outcome));
}

INSTANTIATE_TEST_SUITE_P(Boards, ReadFaults,
                         testing::Values(ReadCase{"AsLaidOut", "", "25 bytes"},
                                         ReadCase{"Longer", R"("replyLength": {"8": 30})", "25 bytes"},
                                         ReadCase{"Shorter", R"("replyLength": {"8": 24})", "USB 报告长度或标识不符"},
                                         ReadCase{"OtherID", R"("replyID": {"8": 9})", "USB 报告长度或标识不符"},
                                         ReadCase{"Stalled", R"("getStatus": {"8": 32})",
                                                  "读取 Report 8 失败：0x00000020"}),
                         [](const auto& test) { return test.param.name; });

// ---- Flashing with the board's faults: the kernel path ends as the in-process emulator does

struct FlashCase {
    std::string name;
    std::string faults;
    std::string outcome;                    // on the emulator
    std::vector<std::string> onTheKernel{}; // when it differs: each outcome the kernel's timing allows
};

void PrintTo(const FlashCase& c, std::ostream* out) {
    *out << c.name;
}

// A whole bootloader reply with this status, as JSON.
std::string reply(int status) {
    std::string out = "[1, " + std::to_string(status);
    for (std::size_t i = 2; i < IAP::packetSize; ++i) {
        out += ", 0";
    }
    return out + "]";
}

class FlashFaults : public KernelTest, public testing::WithParamInterface<FlashCase> {};

TEST_P(FlashFaults, EndAsOnTheEmulator) {
    const auto json = R"({"boards": [{"serial": "QM1", "bootloader": true, "restartMs": 100, "faults": {)" +
                      GetParam().faults + "}}]}";
    const FirmwareImage image(intelHex(static_cast<std::uint32_t>(FirmwareImage::start), patternBytes(200)));
    const auto flash = [&](HIDPlatform& platform, const std::string& id) -> std::string {
        HIDSession session(platform, 1s);
        session.connect(id);
        try {
            session.flash(image, [](double, const std::string&) {});
            return "flashed";
        } catch (const UPSError& e) {
            return e.message();
        }
    };
    EmulatedPlatform emulated(BoardDescription::parse(json));
    const auto onTheEmulator = flash(emulated, HIDSession::discover(emulated).at(0).id);
    plug(describe(directory, "board.json", json));
    const auto onTheKernel = flash(hid, board.id);
    EXPECT_EQ(onTheEmulator, GetParam().outcome);
    if (GetParam().onTheKernel.empty()) {
        EXPECT_EQ(onTheKernel, onTheEmulator);
    } else {
        EXPECT_THAT(GetParam().onTheKernel, testing::Contains(onTheKernel));
    }
}

// 200 bytes: packets 1 (open), 2 to 5 (write), 6 to 9 (verify), 10 (seal), 11 (end).
INSTANTIATE_TEST_SUITE_P(
    Boards, FlashFaults,
    testing::Values(FlashCase{"Flashes", "", "flashed"}, FlashCase{"SlowTransfers", R"("delayMs": 20)", "flashed"},
                    FlashCase{"NoReply", R"("dropReply": 3)", "Bootloader 应答超时；已停止烧录，请重新连接后重试"},
                    FlashCase{"BadStatus", R"("replyStatus": {"4": 7})", "Bootloader 返回错误：7"},
                    FlashCase{"StrayReportsAhead", R"("sendBefore": {"3": [[2, 0], [1], )" + reply(5) + "]}",
                              "Bootloader 返回错误：5"},
                    // A late duplicate already queued is drained before the next packet; on the bus it may still be
                    // on its way then (one polling interval behind the answer), and be taken as the next answer.
                    FlashCase{"LateDuplicate",
                              R"("sendAfter": {"3": [)" + reply(9) + "]}",
                              "flashed",
                              {"flashed", "Bootloader 返回错误：9"}},
                    // The board leaves once its answer has been read. On the bus the next packet usually reaches it
                    // before it has gone, and then nothing answers.
                    FlashCase{
                        "Vanishes",
                        R"("vanishAfter": 3)",
                        "写入 USB Report 1 失败：0x00000013",
                        {"Bootloader 应答超时；已停止烧录，请重新连接后重试", "写入 USB Report 1 失败：0x00000013"}}),
    [](const auto& test) { return test.param.name; });

// ---- A full upgrade through the controller

namespace {

// Runs the event loop until the task has ended.
void await(QCoro::Task<> task) {
    QEventLoop loop;
    bool ended = false;
    auto watching = [](QCoro::Task<>& t, bool& done, QEventLoop& l) -> QCoro::Task<> {
        co_await t;
        done = true;
        l.quit();
    }(task, ended, loop);
    if (!ended) {
        loop.exec();
    }
}

// Confirms everything and opens one file.
struct Person final : Dialogs {
    std::filesystem::path file;
    bool confirm(const std::string&, const std::string&, const std::string&) override { return true; }
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string&) override { return file; }
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string&) override { return std::nullopt; }
    void quitApplication() override {}
};

std::unique_ptr<AppModel> controllerOn(HIDPlatform& hid, Person& person) {
    AppModel::Setup setup;
    setup.platform = &hid;
    setup.dialogs = &person;
    setup.updates.feedURL = "https://127.0.0.1:1/stable.json"; // refused at once
    setup.updates.directory = std::filesystem::temp_directory_path() / "quelmar-kernel-updates";
    setup.installTarget = [] { return std::filesystem::path(); };
    auto model = std::make_unique<AppModel>(std::move(setup));
    model->start();
    return model;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 15000);
}

} // namespace

TEST_F(KernelTest, FullUpgradeThroughTheController) {
    const auto bytes = patternBytes(FirmwareImage::areaSize);
    Person person;
    person.file = directory / "app.hex";
    writeFile(person.file, intelHex(static_cast<std::uint32_t>(FirmwareImage::start), bytes));
    const auto image = directory / "programmed.bin";
    plug(describe(directory, "board.json", R"({"boards": [{"serial": "QM1", "restartMs": 200}]})"), image);

    auto model = controllerOn(hid, person);
    ASSERT_TRUE(waitFor([&] { return model->connected().has_value(); }));
    model->chooseFirmware();
    ASSERT_EQ(model->firmwareBytes(), static_cast<qint64>(bytes.size()));

    // There and back without writing, then there again to write.
    await(model->enterBootloader());
    ASSERT_TRUE(model->connected()) << model->errorMessage().value_or("").toStdString();
    EXPECT_EQ(model->connected()->id, gadgetID) << "the same place on the bus, so the same id";
    EXPECT_TRUE(model->connected()->bootloader);
    await(model->runApp());
    ASSERT_TRUE(model->connected()) << model->errorMessage().value_or("").toStdString();
    EXPECT_FALSE(model->connected()->bootloader);
    await(model->enterBootloader());
    ASSERT_TRUE(model->connected() && model->connected()->bootloader);

    const auto started = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> written;
    QObject::connect(model.get(), &AppModel::progressChanged, [&] {
        if (model->progress() == 1.0 && !written) {
            written = std::chrono::steady_clock::now();
        }
    });
    await(model->flash());
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(written);
    const auto writing = std::chrono::duration<double>(*written - started).count();
    ASSERT_TRUE(model->connected()) << model->errorMessage().value_or("").toStdString();
    EXPECT_EQ(model->connected()->id, gadgetID);
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_EQ(model->logs().lines().back().text.toStdString(), "设备已恢复 APP 模式");
    EXPECT_EQ(readFile(image), std::string(bytes.begin(), bytes.end())) << "the board holds exactly the image";
    RecordProperty("writeSeconds", std::to_string(writing));
    RecordProperty("flashSeconds", std::to_string(seconds));
    std::cout << "full-area image over the kernel: written, verified and sealed in " << writing
              << " s, back in APP mode after " << seconds << " s" << std::endl;
    model->stopPolling();
    waitFor([&] { return !model->polling(); });
}

// ---- Unplugged while connected

TEST_F(KernelTest, AnUnpluggedBoardFailsTheSessionAtOnce) {
    plug(describe(directory, "board.json", R"({"boards": [{"serial": "QM1"}]})"));
    HIDSession session(hid);
    session.connect(board.id);
    session.snapshot();
    gadget->unplug();
    waitUntilUnplugged(hid);
    const auto failure = [](const std::function<void()>& transfer) -> std::string {
        try {
            transfer();
            return "done";
        } catch (const UPSError& e) {
            return e.message();
        }
    };
    EXPECT_EQ(failure([&] { session.snapshot(); }), "读取 Report 8 失败：0x00000013");
    EXPECT_EQ(failure([&] {
                  session.set(Bytes{Reports::config.id, 0, 0, 0, 0, 0, 0, 0}, ReportType::feature);
              }),
              "写入 USB Report 7 失败：0x00000013");
}

TEST_F(KernelTest, TheControllerSeesAnUnpluggedBoardGone) {
    plug(describe(directory, "board.json", R"({"boards": [{"serial": "QM1"}]})"));
    Person person;
    auto model = controllerOn(hid, person);
    ASSERT_TRUE(waitFor([&] { return model->snapshot().has_value(); }));
    gadget->unplug();
    ASSERT_TRUE(waitFor([&] { return !model->connected(); }));
    EXPECT_TRUE(model->devices().empty());
    // Seen gone by discovery, or by the sample that found the board gone first.
    EXPECT_THAT(model->logs().lines().back().text.toStdString(),
                testing::AnyOf(HasSubstr("USB 已断开"), HasSubstr("0x00000013")));
    model->stopPolling();
    waitFor([&] { return !model->polling(); });
}

// The kernel adds and removes a board's interfaces one at a time; discovery lists the board whole or not at all.
TEST_F(KernelTest, ABoardIsListedWholeWhileItsInterfacesComeAndGo) {
    const auto description = describe(directory, "board.json", R"({"boards": [{"serial": "QM1"}]})");
    std::vector<std::string> partial;
    const auto watch = [&](const std::function<bool(std::size_t)>& done) {
        for (const auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
            const auto devices = HIDSession::discover(hid);
            for (const auto& device : devices) {
                if (!device.power || device.vendor.primaryUsagePage != Board::vendorUsagePage) {
                    partial.push_back(device.id + " without one of its interfaces");
                }
            }
            if (done(devices.size())) {
                return;
            }
        }
        partial.push_back("the board did not come or go within 10 s");
    };
    for (int round = 0; round < 4; ++round) {
        Gadget plugged(description);
        watch([](std::size_t boards) { return boards == 1; });
        plugged.unplug();
        watch([](std::size_t boards) { return boards == 0; });
    }
    EXPECT_THAT(partial, testing::IsEmpty());
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    // Every wait above has its own deadline; this one catches a call that blocks in the kernel.
    const char* const limit = std::getenv("QUELMAR_KERNEL_TEST_SECONDS");
    const auto seconds = std::chrono::seconds(limit != nullptr ? std::atoi(limit) : 240);
    std::thread([seconds] {
        std::this_thread::sleep_for(seconds);
        std::cerr << "test_kernel: still running after " << seconds.count() << " s; giving up" << std::endl;
        std::_Exit(124);
    }).detach();
    return RUN_ALL_TESTS();
}
