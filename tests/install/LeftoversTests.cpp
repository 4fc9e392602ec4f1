#include "BundleFixtures.h"
#include "TemporaryDirectory.h"
#include "install/Leftovers.h"
#include "system/Processes.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

class LeftoversTest : public testing::Test {
protected:
    LeftoversTest() {
        makeBundle(target, clientInfo("2.1.0"), "/bin/true");
        fs::create_directories(updates);
    }

    // A stage holding these bundles (and files), made `age` ago.
    fs::path stage(const std::string& name, std::vector<std::string> entries, std::chrono::minutes age = 60min) {
        const auto path = apps / (".quelmar-native-update-" + name);
        for (const auto& entry : entries) {
            if (entry.ends_with(".app")) {
                makeBundle(path / entry, clientInfo("2.0.1"), "/bin/true");
            } else {
                fs::create_directories(path);
                writeFile(path / entry, "x");
            }
        }
        fs::create_directories(path);
        age_(path, age);
        return path;
    }
    static void age_(const fs::path& path, std::chrono::minutes age) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    }
    std::vector<std::string> left(const fs::path& directory) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TemporaryDirectory home;
    fs::path apps = home / "Applications";
    fs::path target = apps / "Quelmar_Monitor.app";
    fs::path updates = home / "updates";
};

} // namespace

TEST_F(LeftoversTest, KeepsTheNewestCompletedInstallAndWhatMayBeTheOnlyClient) {
    stage("A-older", {"previous.app", "installer", "ready.json"}, 120min);
    stage("B-newest", {"previous.app", "installer", "ready.json"}, 60min);
    stage("C-abandoned", {"Quelmar_Monitor.app", "installer"});
    stage("D-fresh", {"Quelmar_Monitor.app"}, 0min); // perhaps another client's, waiting for its second question
    stage("E-restore-failed", {"previous.app", "failed.app"});
    const auto running = stage("F-helper-running", {"Quelmar_Monitor.app"});
    fs::copy_file("/bin/sleep", running / "installer");
    const auto helper = Processes::startDetached(running / "installer", {"5"});
    for (int i = 0; i < 100 && Processes::runningInside(running).empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    writeFile(updates / "0A7C.zip", "old");
    age_(updates / "0A7C.zip", 30min);
    writeFile(updates / ".1B2D.hex.Xy12Z9", "old");
    age_(updates / ".1B2D.hex.Xy12Z9", 30min);
    writeFile(updates / "2C3E.zip", "fresh");
    writeFile(updates / "install.log", "更新成功");
    fs::create_directories(updates / "chunks");

    EXPECT_FALSE(Leftovers::tidy(updates, target));
    EXPECT_THAT(left(apps), ElementsAre(".quelmar-native-update-B-newest", ".quelmar-native-update-D-fresh",
                                        ".quelmar-native-update-E-restore-failed",
                                        ".quelmar-native-update-F-helper-running", "Quelmar_Monitor.app"));
    EXPECT_THAT(left(updates), ElementsAre("2C3E.zip", "chunks", "install.log"));
    ::kill(helper, SIGKILL);

    // With the installed bundle gone (a swap cut short), every previous.app is kept.
    fs::rename(target, home / "elsewhere.app");
    stage("G-older", {"previous.app"}, 240min);
    Leftovers::tidy(updates, target);
    EXPECT_TRUE(fs::exists(apps / ".quelmar-native-update-G-older/previous.app"));
}

TEST_F(LeftoversTest, ARollbackIsReportedOnceWithTheInstallersReason) {
    const auto rolledBack = stage("R", {"failed.app", "installer", "ready.json"}, 0min);
    writeFile(rolledBack / "failed.app/Contents/Info.plist", infoPlist(clientInfo("2.2.0")));
    writeFile(updates / "install.log", "更新失败：新版未完成窗口启动，恢复旧版\n旧版已恢复\n");
    const auto report = Leftovers::tidy(updates, target);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->version, "2.2.0");
    EXPECT_EQ(report->reason, "新版未完成窗口启动，恢复旧版");
    EXPECT_FALSE(fs::exists(rolledBack));
    EXPECT_FALSE(Leftovers::tidy(updates, target));
}
