#include "Process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar::test;
using testing::HasSubstr;
using testing::StartsWith;

TEST(Entry, HelpPrintsUsage) {
    for (const char* option : {"--help"}) {
        const auto result = runProcess(QUELMAR_EXECUTABLE, {option});
        EXPECT_EQ(result.status, 0);
        EXPECT_THAT(result.out, StartsWith("Usage: quelmar"));
        EXPECT_THAT(result.out, HasSubstr("--probe"));
        EXPECT_EQ(result.err, "");
    }
}

TEST(Entry, VersionPrintsTheCompiledVersion) {
    const auto result = runProcess(QUELMAR_EXECUTABLE, {"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, StartsWith("Quelmar 2.0.1"));
}
