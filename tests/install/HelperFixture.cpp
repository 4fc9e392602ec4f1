#include "HelperFixture.h"

#include "system/Processes.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace quelmar::test {

void HelperTest::SetUp() {
    apps = dir / "Applications";
    home = dir / "home";
    fs::create_directories(home);
    target = installBundle(apps);
    installer = dir / "installer";
    fs::copy_file(QUELMAR_EXECUTABLE, installer);
}

void HelperTest::TearDown() {
    Processes::terminateInside(apps);
}

fs::path HelperTest::stageUpdate(const std::string& version, const std::optional<fs::path>& executable,
                                 const std::string& executableName) {
    static int count = 0;
    const auto build = dir / ("build-" + std::to_string(++count));
    const auto bundle = build / "Quelmar_Monitor.app";
    fs::create_directories(build);
    fs::copy(target, bundle, fs::copy_options::recursive);
    writeFile(bundle / "Contents/Info.plist", infoPlist(clientInfo(version, executableName)));
    if (executable) {
        fs::copy_file(*executable, bundle / "Contents/bin" / executableName, fs::copy_options::overwrite_existing);
    }
    sealWithTool(bundle);
    packWithTool(bundle, build / "update.zip");
    const auto staged =
        runProcess(QUELMAR_EXECUTABLE, {"--stage-update", (build / "update.zip").string(), version, target.string()});
    EXPECT_EQ(staged.status, 0) << staged.out;
    const auto printed = lines(staged.out);
    return printed.empty() ? fs::path() : fs::path(printed[0]);
}

ProcessResult HelperTest::runHelper(const std::vector<std::string>& arguments, std::chrono::seconds timeout) {
    ProcessOptions options;
    options.setEnv["HOME"] = home.string();
    // The clients it starts open their window on Qt's offscreen platform, without boards.
    options.setEnv["QT_QPA_PLATFORM"] = "offscreen";
    options.setEnv["QUELMAR_SIMULATOR"] = QUELMAR_SOURCE_DIR "/tests/data/boards/none.json";
    options.timeout = timeout;
    if (realTimes) {
        return runProcess(installer.string(), arguments, options);
    }
    std::vector<std::string> timed = {std::to_string(times.exitProbes), std::to_string(times.acknowledgementPolls),
                                      std::to_string(times.pause.count())};
    if (killAt) {
        timed.insert(timed.end(), {"--kill-at", std::to_string(static_cast<int>(killAt->first)),
                                   std::to_string(static_cast<int>(killAt->second))});
    }
    timed.insert(timed.end(), arguments.begin(), arguments.end());
    return runProcess(QUELMAR_TIMED_INSTALLER, timed, options);
}

ProcessResult HelperTest::install(const fs::path& stage, const std::string& version, pid_t oldClient,
                                  std::chrono::seconds timeout) {
    return runHelper({"--install", std::to_string(oldClient), target.string(), stage.string(), version}, timeout);
}

std::string HelperTest::log() const {
    return readFile(home / ".vetrola/native-updates/install.log");
}

pid_t HelperTest::exitedProcess() {
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    if (posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0) {
        return 0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return pid;
}

std::unique_ptr<RunningProcess> HelperTest::holdStage(const fs::path& stage) {
    fs::copy_file("/bin/sleep", stage / "holder");
    return std::make_unique<RunningProcess>((stage / "holder").string(), std::vector<std::string>{"600"});
}

} // namespace quelmar::test
