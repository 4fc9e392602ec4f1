#include "BundleFixtures.h"
#include "ControllerFixture.h"
#include "Process.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "system/Processes.h"

#include <algorithm>
#include <fstream>
#include <regex>

#include <QTimer>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

std::string readFileIfAny(const fs::path& path) {
    return fs::exists(path) ? readFile(path) : std::string();
}

const std::string installQuestion = "签名、文件和应用版本验证通过。旧版会保留，新版无法启动时自动恢复。";

// An installed client 2.0.1 and a feed offering a sealed 2.1.0 built from it.
class ClientUpdate : public ControllerTest {
protected:
    void SetUp() override {
        apps = home / "Applications";
        target = installBundle(apps);
        const auto build = home / "build" / "Quelmar_Monitor.app";
        fs::create_directories(build.parent_path());
        fs::copy(target, build, fs::copy_options::recursive);
        writeFile(build / "Contents/Info.plist", infoPlist(clientInfo("2.1.0")));
        sealWithTool(build);
        packWithTool(build, home / "update.zip");
        server.addFile("update.zip", readFile(home / "update.zip"));
        publish("/files/update.zip");
    }

    // The feed offers the package at this path of the server.
    void publish(const std::string& path) {
        const auto archive = readFile(home / "update.zip");
        auto package = clientPackage("2.1.0");
        package["url"] = server.url(path);
        package["size"] = archive.size();
        package["sha256"] = SignedUpdates::hash(bytesOf(archive));
        server.addFile("feed.json", signedEnvelopeOf(feedOf({package})));
    }

    void makeClient(std::function<void(const StagedUpdate&)> launch = {}, std::vector<BoardDescription> boards = {}) {
        AppModel::Setup setup;
        setup.updates.caFile = server.caFile();
        setup.updates.feedURL = server.url("/files/feed.json");
        setup.updates.publicKey = developmentPublicKey();
        setup.installTarget = [this] { return target; };
        setup.launchInstaller = [this, launch](const StagedUpdate& update) {
            launched.push_back(update);
            if (launch) {
                launch(update);
            }
        };
        make(std::move(boards), std::move(setup));
    }

    // Everything beside the installed bundle, and every download left behind.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(apps)) {
            names.push_back(entry.path().filename().string());
        }
        if (fs::exists(home / "updates")) {
            for (const auto& entry : fs::directory_iterator(home / "updates")) {
                names.push_back("updates/" + entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    HttpsServer server;
    fs::path apps, target;
    std::vector<StagedUpdate> launched;
};

} // namespace

TEST_F(ClientUpdate, DownloadsStagesAndHandsOverToTheInstaller) {
    makeClient();
    run(model->updateClicked()); // nothing known yet: a manual check instead
    ASSERT_TRUE(waitUntil([&] { return !model->checking(); }));
    EXPECT_EQ(model->updateText(), "发现原生版 2.1.0");
    EXPECT_THAT(dialogs.confirmations, IsEmpty());

    run(model->updateClicked());
    EXPECT_THAT(dialogs.confirmations, ElementsAre(std::tuple("更新至 2.1.0？", "修复了若干问题", "下载"),
                                                   std::tuple("安装并重新启动？", installQuestion, "安装并重启")));
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].target, target);
    EXPECT_EQ(launched[0].version, "2.1.0");
    EXPECT_EQ(reportedVersion(launched[0].stage / "Quelmar_Monitor.app"), "2.1.0");
    EXPECT_THAT(dialogs.asked, ElementsAre("quit"));
    EXPECT_THAT(leftovers(), ElementsAre(launched[0].stage.filename().string(), "Quelmar_Monitor.app"))
        << "the archive is gone; the stage waits for the installer";
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(model->operation());
}

TEST_F(ClientUpdate, DecliningOrFailingLeavesNothingBehind) {
    makeClient([](const StagedUpdate&) { throw UPSError("无法定位更新助手"); });
    run(model->checkUpdates(true));
    dialogs.answers = {false};
    run(model->updateClicked());
    EXPECT_EQ(server.requestCount(), 1u) << "declined before anything is downloaded";

    dialogs.answers = {true, false};
    run(model->updateClicked());
    EXPECT_THAT(launched, IsEmpty());
    EXPECT_THAT(leftovers(), ElementsAre("Quelmar_Monitor.app"));

    run(model->updateClicked()); // the helper cannot start
    EXPECT_EQ(model->errorMessage(), QString("无法定位更新助手"));
    EXPECT_THAT(leftovers(), ElementsAre("Quelmar_Monitor.app"));
    EXPECT_THAT(dialogs.asked, IsEmpty()) << "never asked to quit";
}

TEST_F(ClientUpdate, AWorkflowStartedWhileTheFirstQuestionIsOpenStopsTheUpdate) {
    makeClient({}, {testBoard()});
    run(model->poll());
    run(model->checkUpdates(true));
    // The board takes half a second to come back in its other mode: the switch is still running when the question
    // closes.
    dialogs.whileOpen = [this] { model->enterBootloader(); };
    run(model->updateClicked());
    EXPECT_EQ(server.requestCount(), 1u) << "nothing is downloaded";
    EXPECT_THAT(launched, IsEmpty());
    EXPECT_TRUE(waitUntil([&] { return !model->operation(); }));
}

TEST_F(ClientUpdate, QuittingDuringTheDownloadOrTheStagingLeavesNothingBehind) {
    publish("/slow/update.zip?delay=20");
    makeClient();
    run(model->checkUpdates(true));
    auto downloading = model->updateClicked();
    ASSERT_TRUE(waitUntil([&] { return model->progress() > 0; }));
    model.reset();
    QTest::qWait(50);
    EXPECT_THAT(leftovers(), ElementsAre("Quelmar_Monitor.app"));

    publish("/files/update.zip");
    makeClient();
    run(model->checkUpdates(true));
    QObject::connect(model.get(), &AppModel::progressTextChanged, [this] {
        if (model->progressText() == "正在验证并准备安装，请稍候") {
            QTimer::singleShot(0, [this] { model.reset(); }); // while the worker unpacks
        }
    });
    auto staging = model->updateClicked();
    ASSERT_TRUE(waitUntil([&] { return model == nullptr; }));
    QTest::qWait(50);
    EXPECT_THAT(leftovers(), ElementsAre("Quelmar_Monitor.app"));
}

TEST_F(ClientUpdate, ARestoredClientSaysOnceThatTheUpdateDidNotStay) {
    const auto stage = apps / ".quelmar-native-update-4A1B";
    fs::create_directories(stage);
    fs::copy(target, stage / "failed.app", fs::copy_options::recursive);
    writeFile(stage / "failed.app/Contents/Info.plist", infoPlist(clientInfo("2.1.0")));
    fs::create_directories(home / "updates");
    writeFile(home / "updates/install.log", "更新失败：新版未完成窗口启动，恢复旧版\n旧版已恢复\n");
    const std::string notice = "上次更新至 2.1.0 未能完成，已恢复当前版本：新版未完成窗口启动，恢复旧版";
    makeClient();
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->installNotice().has_value(); }));
    EXPECT_EQ(model->installNotice(), QString::fromStdString(notice));
    EXPECT_THAT(logTexts(), Contains(notice));
    EXPECT_THAT(leftovers(), ElementsAre("Quelmar_Monitor.app", "updates/install.log"));

    settle();
    makeClient();
    model->start();
    ASSERT_TRUE(waitUntil([&] { return !model->checking(); }));
    QTest::qWait(50);
    EXPECT_FALSE(model->installNotice()) << "said once";
}

TEST_F(ClientUpdate, AClientOutsideABundleDownloadsNothing) {
    AppModel::Setup setup; // this test program runs from no bundle at all
    setup.updates.caFile = server.caFile();
    setup.updates.feedURL = server.url("/files/feed.json");
    setup.updates.publicKey = developmentPublicKey();
    make({}, std::move(setup));
    run(model->checkUpdates(true));
    run(model->updateClicked());
    EXPECT_EQ(model->errorMessage(), QString("请先将应用移到可写的应用目录，例如 ~/Applications，再更新"));
    EXPECT_THAT(dialogs.confirmations, IsEmpty());
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ClientUpdate, APackagedClientSaysSoAndDownloadsNothing) {
    AppModel::Setup setup;
    setup.installTarget = [] { return NativeInstaller::checkedTarget("/usr/bin"); };
    setup.updates.caFile = server.caFile();
    setup.updates.feedURL = server.url("/files/feed.json");
    setup.updates.publicKey = developmentPublicKey();
    make({}, std::move(setup));
    run(model->checkUpdates(true));
    EXPECT_EQ(model->updateText(), QString("发现原生版 2.1.0"));
    run(model->updateClicked());
    EXPECT_EQ(model->errorMessage(), QString("安装在 /usr 中的应用不会自行更新，请通过软件包管理器更新"));
    EXPECT_THAT(dialogs.confirmations, IsEmpty());
    EXPECT_EQ(server.requestCount(), 1u);
}

// The whole hand-over with real processes: an old client that quits when asked, the client executable as the
// installer helper, and the new client it starts, which must acknowledge.
TEST_F(ClientUpdate, EndToEndTheNewVersionRunsAndTheOldOneIsKept) {
    const auto started = std::chrono::steady_clock::now();
    ProcessOptions options;
    options.setEnv["HOME"] = home.path().string();
    options.setEnv["QT_QPA_PLATFORM"] = "offscreen";
    options.unsetEnv = {"QUELMAR_SIMULATOR"};
    const auto client = runProcess(QUELMAR_UPDATE_CLIENT,
                                   {server.url("/files/feed.json"), server.caFile().string(), developmentPublicKey(),
                                    target.string(), QUELMAR_EXECUTABLE},
                                   options);
    ASSERT_EQ(client.status, 0) << client.err;

    const auto log = home / ".vetrola/native-updates/install.log";
    ASSERT_TRUE(waitUntil([&] { return readFileIfAny(log).find("更新成功") != std::string::npos; }, 60000))
        << readFileIfAny(log);
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("client update, end to end: %.2f s\n", took);
    EXPECT_EQ(reportedVersion(target), "2.1.0");
    std::smatch previous;
    const auto text = readFileIfAny(log);
    ASSERT_TRUE(std::regex_search(text, previous, std::regex("旧版保留在 (.*previous\\.app)")));
    EXPECT_EQ(reportedVersion(previous[1].str()), "2.0.1");
    EXPECT_EQ(Processes::terminateInside(fs::canonical(target)), 1) << "the new client runs";
}
