#pragma once

#include "BundleFixtures.h"
#include "Process.h"
#include "install/NativeInstaller.h"

#include <memory>
#include <optional>
#include <utility>

#include <gtest/gtest.h>

namespace quelmar::test {

// An installed client 2.0.1 in a temporary applications folder, HOME in the same temporary directory, and the
// means to stage an update and run the helper on it, all as real processes.
class HelperTest : public testing::Test {
protected:
    void SetUp() override;
    // Ends the clients the helper started: they run the window until they are told to stop.
    void TearDown() override;

    // Copies the installed bundle, declares version and executable, seals and packs it with the publisher tool,
    // and stages the archive with --stage-update. Returns the staging directory.
    fs::path stageUpdate(const std::string& version, const std::optional<fs::path>& executable = std::nullopt,
                         const std::string& executableName = "quelmar");

    // Runs "installer --install PID TARGET STAGE VERSION" as launch() would start it: by default the test build
    // of the helper with `times`, with realTimes the client's own executable at the times it was built with.
    ProcessResult runHelper(const std::vector<std::string>& arguments,
                            std::chrono::seconds timeout = std::chrono::seconds(60));
    ProcessResult install(const fs::path& stage, const std::string& version, pid_t oldClient,
                          std::chrono::seconds timeout = std::chrono::seconds(60));

    std::string log() const;
    // A process ID that is no longer running.
    static pid_t exitedProcess();
    // A process running from the stage. The old client a rollback restarts tidies away, as it starts, a rolled-back
    // stage that nothing runs from; held, the stage stays for the test to look at.
    static std::unique_ptr<RunningProcess> holdStage(const fs::path& stage);

    TemporaryDirectory dir;
    fs::path apps, home, target, installer;
    NativeInstaller::HelperTimes times{60, 45, std::chrono::milliseconds(100)};
    bool realTimes = false;
    // The test build of the helper kills itself right before (false) or after (true) this step.
    std::optional<std::pair<NativeInstaller::HelperStep, bool>> killAt;
};

} // namespace quelmar::test
