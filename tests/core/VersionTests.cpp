#include "Matchers.h"
#include "core/Version.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::ElementsAre;
using testing::ThrowsMessage;

TEST(Version, ParsesThreeDecimalParts) {
    EXPECT_THAT(Version("1.2.3").parts(), ElementsAre(1, 2, 3));
    EXPECT_THAT(Version("0.0.0").parts(), ElementsAre(0, 0, 0));
    EXPECT_THAT(Version("01.002.3").parts(), ElementsAre(1, 2, 3));
    EXPECT_THAT(Version("1.2.9223372036854775807").parts(), ElementsAre(1, 2, 9223372036854775807LL));
}

class InvalidVersion : public testing::TestWithParam<std::string> {};
TEST_P(InvalidVersion, NamesTheWholeUntrimmedText) {
    const std::string text = GetParam();
    EXPECT_THAT([&] { Version{text}; }, ThrowsMessage<UPSError>("版本号无效：" + text));
}
// Wrong number of pieces or an empty piece.
INSTANTIATE_TEST_SUITE_P(Pieces, InvalidVersion,
                         testing::Values("1.2", "1.2.3.4", "1.2.3.", ".1.2.3", "1..2", "", "..", "1.2."));
// Characters other than ASCII digits, nothing trimmed.
INSTANTIATE_TEST_SUITE_P(Characters, InvalidVersion,
                         testing::Values("v1.2.3", " 1.2.3", "1.2.3 ", "1.2.3-beta", "+1.2.3", "1.-2.3", "1.x.3", "abc",
                                         "1.2.\u0663", "1.2.３"));
// Components that overflow a signed 64-bit integer.
INSTANTIATE_TEST_SUITE_P(Overflow, InvalidVersion,
                         testing::Values("1.2.99999999999999999999", "1.2.9223372036854775808",
                                         "18446744073709551617.0.0"));

TEST(Version, MessageHasNoSeparator) {
    EXPECT_THAT([] { Version("abc"); }, ThrowsMessage<UPSError>("版本号无效：abc"));
}

TEST(Version, EmbeddedNulIsRejectedAndKeptInTheMessage) {
    const std::string text("1.2\0.3", 6);
    EXPECT_THAT([&] { Version{text}; }, ThrowsUPSError("版本号无效：" + text));
}

TEST(Version, OrdersNumerically) {
    EXPECT_EQ(Version("1.02.3"), Version("1.2.3"));
    EXPECT_GT(Version("1.10.0"), Version("1.9.9"));
    EXPECT_GT(Version("2.0.0"), Version("1.99.99"));
    EXPECT_LT(Version("1.0.7"), Version("1.0.8"));
    EXPECT_LT(Version("0.0.9223372036854775806"), Version("0.0.9223372036854775807"));
    EXPECT_LE(Version("1.2.3"), Version("1.2.3"));
    EXPECT_GE(Version("1.2.3"), Version("1.2.3"));
    EXPECT_FALSE(Version("1.2.3") < Version("1.2.3"));
    EXPECT_FALSE(Version("1.2.3") > Version("1.2.3"));
}
