#include "HexFixtures.h"
#include "install/NativeInstaller.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
namespace fs = std::filesystem;

namespace {

class Acknowledgement : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(stage);
        fs::create_directory(plain);
    }
    void acknowledge(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "quelmar");
        NativeInstaller::acknowledgeLaunch(arguments);
    }
    TemporaryDirectory dir;
    const fs::path stage = dir / ".quelmar-native-update-0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    const fs::path plain = dir / "plain";
    const std::string ready = (stage / "ready.json").string();
};

} // namespace

TEST_F(Acknowledgement, WritesTheTokenAndOwnVersion) {
    acknowledge({"--update-ready", ready, "--update-token", "TOKEN-1"});
    EXPECT_EQ(nlohmann::json::parse(readFile(ready)), nlohmann::json({{"token", "TOKEN-1"}, {"version", "2.0.1"}}));
    // Order of the options does not matter, and a later attempt replaces the file.
    acknowledge({"--update-token", "TOKEN-2", "--other", "--update-ready", ready});
    EXPECT_EQ(nlohmann::json::parse(readFile(ready))["token"], "TOKEN-2");
    EXPECT_EQ(std::distance(fs::directory_iterator(stage), fs::directory_iterator()), 1);
}

TEST_F(Acknowledgement, WritesNothingWithoutBothOptionsAndValues) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--update-ready", ready},
                                               {"--update-token", "T"},
                                               {"--update-token", "T", "--update-ready"},
                                               {"--update-ready", ready, "--update-token"}}) {
        acknowledge(arguments);
        EXPECT_FALSE(fs::exists(ready));
    }
}

// The client never writes elsewhere on request.
TEST_F(Acknowledgement, RefusesPathsOutsideAStagingDirectory) {
    const std::vector<fs::path> paths = {
        plain / "ready.json",
        stage / "other.json",
        stage / "ready.json" / "",
        stage / ".." / "ready.json",
        stage / "." / "ready.json",
        "ready.json",
        dir / ".quelmar-native-update-" / "sub" / "ready.json",
    };
    fs::create_directories(dir / ".quelmar-native-update-" / "sub");
    const auto cwd = fs::current_path();
    fs::current_path(stage);
    for (const auto& path : paths) {
        acknowledge({"--update-ready", path.string(), "--update-token", "T"});
    }
    fs::current_path(cwd);
    EXPECT_TRUE(fs::is_empty(stage));
    EXPECT_TRUE(fs::is_empty(plain));
    EXPECT_TRUE(fs::is_empty(dir / ".quelmar-native-update-" / "sub"));
    EXPECT_FALSE(fs::exists(dir / "ready.json"));
}

TEST_F(Acknowledgement, ALinkIsReplacedNotFollowed) {
    writeFile(plain / "victim", "keep");
    fs::create_symlink(plain / "victim", ready);
    acknowledge({"--update-ready", ready, "--update-token", "T"});
    EXPECT_EQ(readFile(plain / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(ready));
    EXPECT_EQ(nlohmann::json::parse(readFile(ready))["token"], "T");
}

TEST_F(Acknowledgement, FailuresAreSilent) {
    const auto missing = dir / ".quelmar-native-update-gone" / "ready.json";
    EXPECT_NO_THROW(acknowledge({"--update-ready", missing.string(), "--update-token", "T"}));
    // A token that is not UTF-8 cannot be encoded.
    EXPECT_NO_THROW(acknowledge({"--update-ready", ready, "--update-token", "\xff"}));
    EXPECT_FALSE(fs::exists(ready));
    EXPECT_FALSE(fs::exists(missing.parent_path()));
}
