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
    // Options that are incomplete for their mode are not recognised.
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--verify-hex"},
                                               {"--check-feed"},
                                               {"--samples", "3"},
                                               {"--stage-update", "a", "1.0.0"},
                                               {"--stage-update", "a", "1.0.0", "b", "c"},
                                               {"x", "--install", "1"}}) {
        const auto result = runProcess(QUELMAR_EXECUTABLE, arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_THAT(result.out, StartsWith("Usage: quelmar"));
    }
}
