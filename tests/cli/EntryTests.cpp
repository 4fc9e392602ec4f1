#include "Process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar::test;
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
    // platform that does not exist, Qt refuses it by name.
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
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_THAT(result.err, HasSubstr("quelmar-no-such-platform"));
    }
}
