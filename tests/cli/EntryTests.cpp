#include "Process.h"
#include "TemporaryDirectory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar::test;
using testing::EndsWith;
using testing::HasSubstr;
using testing::StartsWith;

TEST(Entry, HelpPrintsUsage) {
    const auto result = runProcess(QUELMAR_EXECUTABLE, {"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, StartsWith("Usage: quelmar"));
    EXPECT_THAT(result.out, HasSubstr("--probe"));
    EXPECT_EQ(result.err, "");
}

TEST(Entry, VersionPrintsTheCompiledVersion) {
    const auto result = runProcess(QUELMAR_EXECUTABLE, {"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, StartsWith("Quelmar 2.0.1"));
}

TEST(Entry, UnknownArgumentsFallThroughToTheApplication) {
    // Options that are incomplete for their mode are not recognised. The graphical client starts; on a windowing
    // platform that does not exist, it says so in one line naming Qt's reason, instead of aborting.
    ProcessOptions options;
    options.setEnv = {{"QT_QPA_PLATFORM", "quelmar-no-such-platform"}, {"QUELMAR_SIMULATOR", "1"}};
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--verify-hex"},
                                               {"--check-feed"},
                                               {"--samples", "3"},
                                               {"--stage-update", "a", "1.0.0"},
                                               {"--stage-update", "a", "1.0.0", "b", "c"},
                                               {"x", "--install", "1"}}) {
        const auto result = runProcess(QUELMAR_EXECUTABLE, arguments, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.out, StartsWith("Cannot open the window: "));
        EXPECT_THAT(result.out, HasSubstr("quelmar-no-such-platform"));
        EXPECT_THAT(result.out, EndsWith("; quelmar --help lists the command-line modes\n"));
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1);
    }
}

TEST(Entry, WithoutADisplayTheWindowSaysSoInOneLine) {
    ProcessOptions options;
    options.setEnv = {{"QUELMAR_SIMULATOR", "1"}};
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    auto result = runProcess(QUELMAR_EXECUTABLE, {}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Cannot open the window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                          "quelmar --help lists the command-line modes\n");
    // A display that is named but cannot be reached.
    options.setEnv["DISPLAY"] = ":65531"; // no server listens there
    result = runProcess(QUELMAR_EXECUTABLE, {}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, StartsWith("Cannot open the window: "));
    EXPECT_THAT(result.out, HasSubstr(":65531"));
    EXPECT_EQ(result.err, "");
}

// The executable needs Qt Core and the project's own code only: the window's libraries come with its module, libcurl
// and libarchive with their first use.
TEST(Entry, TheExecutableLinksNoGraphicalLibrary) {
    const auto linked = runProcess("/usr/bin/ldd", {QUELMAR_EXECUTABLE}).out;
    EXPECT_THAT(linked, HasSubstr("libQt6Core.so"));
    for (const char* library : {"libQt6Gui", "libQt6Widgets", "libQt6Svg", "libQt6DBus", "libX11", "libxcb", "libdbus",
                                "libcurl", "libarchive"}) {
        EXPECT_THAT(linked, testing::Not(HasSubstr(library)));
    }
}

// An installation without the window's module (a headless machine): the graphical mode says what is missing in one
// line, and the command-line modes work.
TEST(Entry, WithoutItsModuleTheWindowSaysSoInOneLine) {
    TemporaryDirectory dir;
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_directories(dir / "lib/quelmar");
    const auto executable = dir / "bin/quelmar";
    std::filesystem::copy_file(QUELMAR_EXECUTABLE, executable);
    ProcessOptions options;
    options.setEnv = {{"QT_QPA_PLATFORM", "offscreen"}, {"QUELMAR_SIMULATOR", "1"}};
    const auto module = (dir / "lib/quelmar/quelmar-window.so").string();
    auto result = runProcess(executable, {}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Cannot open the window: its module is not installed (neither " +
                              (dir / "bin/quelmar-window.so").string() + " nor " + module +
                              " exists); the command-line modes work without it, quelmar --help lists them\n");

    std::ofstream(module) << "not a library";
    result = runProcess(executable, {}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, StartsWith("Cannot open the window: its module " + module + " cannot be loaded ("));
    EXPECT_THAT(result.out, EndsWith("); the command-line modes work without it, quelmar --help lists them\n"));

    result = runProcess(executable, {"--probe"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, StartsWith("Quelmar DC UPS"));
}
