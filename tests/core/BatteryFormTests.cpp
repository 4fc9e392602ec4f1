#include "Matchers.h"
#include "core/BatteryForm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::Optional;

namespace {

const std::string invalid(BatteryForm::invalidInput);
const std::string range = "电池参数超出允许范围：容量 500–20000 mAh，内阻 1–1000 mΩ";

} // namespace

TEST(BatteryForm, ParsesCapacityAsASignedDecimalIntegerOnly) {
    EXPECT_THAT(BatteryForm::parseInteger("+500"), Optional(500));
    EXPECT_THAT(BatteryForm::parseInteger("-7"), Optional(-7));
    EXPECT_THAT(BatteryForm::parseInteger("9223372036854775807"), Optional(INT64_MAX));
    for (const char* text : {"", "+", "-", " 500", "500 ", "500mAh", "5e2", "+-5", "-+5", "++5", "0x1F4",
                             "9223372036854775808", "５００"}) {
        EXPECT_EQ(BatteryForm::parseInteger(text), std::nullopt) << text;
    }
}

TEST(BatteryForm, ParsesResistanceWithTheCConversion) {
    EXPECT_THAT(BatteryForm::parseDouble("12.5"), Optional(12.5));
    EXPECT_THAT(BatteryForm::parseDouble("1e3"), Optional(1000.0));
    EXPECT_THAT(BatteryForm::parseDouble("+0x1p3"), Optional(8.0));
    for (const char* text : {"", " 1", "\t1", "\n1", "1 ", "12,5", "1.2.3", "abc"}) {
        EXPECT_EQ(BatteryForm::parseDouble(text), std::nullopt) << text;
    }
    EXPECT_EQ(BatteryForm::parseDouble(std::string_view("1\0"
                                                        "2",
                                                        3)),
              std::nullopt);
}

TEST(BatteryForm, ChecksInputBeforeTheRange) {
    // Limits accepted; halves rounded away from zero.
    EXPECT_EQ(BatteryForm::parse("500", "1", 0), BatteryConfig(500, 1000, 0));
    EXPECT_EQ(BatteryForm::parse("20000", "1000", 2), BatteryConfig(20000, 1000000, 2));
    EXPECT_EQ(BatteryForm::parse("2600", "12.3456", 1).resistanceMicroOhms(), 12346);
    EXPECT_EQ(BatteryForm::parse("2600", "0.0015e3", 1).resistanceMicroOhms(), 1500);
    EXPECT_EQ(BatteryForm::parse("2600", "1.0005", 1).resistanceMicroOhms(), 1001);

    for (const auto& [capacity, resistance] : std::vector<std::pair<std::string, std::string>>{{" 500", "10"},
                                                                                               {"500mAh", "10"},
                                                                                               {"5e2", "10"},
                                                                                               {"2600", "0.9995"},
                                                                                               {"2600", "1000.5"},
                                                                                               {"2600", "nan"},
                                                                                               {"2600", "inf"},
                                                                                               {"2600", "-inf"},
                                                                                               {"2600", ""},
                                                                                               {"", "10"}}) {
        EXPECT_THAT([&] { BatteryForm::parse(capacity, resistance, 2); }, ThrowsUPSError(invalid))
            << capacity << " / " << resistance;
    }
    EXPECT_THAT([] { BatteryForm::parse("499", "10", 2); }, ThrowsUPSError(range));
    EXPECT_THAT([] { BatteryForm::parse("20001", "10", 2); }, ThrowsUPSError(range));
    EXPECT_THAT([] { BatteryForm::parse("2600", "10", 3); }, ThrowsUPSError(range));
}
