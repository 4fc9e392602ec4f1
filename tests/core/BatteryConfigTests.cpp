#include "core/BatteryConfig.h"
#include "core/UPSError.h"

#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::ElementsAre;
using testing::ThrowsMessage;

namespace {

const char* const rangeError = "电池参数超出允许范围：容量 500–20000 mAh，内阻 1–1000 mΩ";

using Parameters = std::tuple<std::int64_t, std::int64_t, std::int64_t>;

class BatteryConfigRange : public testing::TestWithParam<Parameters> {};

} // namespace

// Boundaries that are inside every range.
class BatteryConfigAccepted : public BatteryConfigRange {};
TEST_P(BatteryConfigAccepted, Constructs) {
    const auto [capacity, resistance, nominal] = GetParam();
    const BatteryConfig config(capacity, resistance, nominal);
    EXPECT_EQ(config.capacity(), capacity);
    EXPECT_EQ(config.resistanceMicroOhms(), resistance);
    EXPECT_EQ(config.nominal(), nominal);
    EXPECT_EQ(BatteryConfig(config.report()), config); // every valid value survives its wire form
}
INSTANTIATE_TEST_SUITE_P(Boundaries, BatteryConfigAccepted,
                         testing::Values(Parameters{500, 45000, 1}, Parameters{20000, 45000, 1},
                                         Parameters{2600, 1000, 1}, Parameters{2600, 1000000, 1},
                                         Parameters{2600, 45000, 0}, Parameters{2600, 45000, 2}));

// One value just outside its range, the others valid; nothing is clamped.
class BatteryConfigRejected : public BatteryConfigRange {};
TEST_P(BatteryConfigRejected, ThrowsTheRangeMessage) {
    const auto [capacity, resistance, nominal] = GetParam();
    EXPECT_THAT([&] { BatteryConfig(capacity, resistance, nominal); }, ThrowsMessage<UPSError>(rangeError));
}
INSTANTIATE_TEST_SUITE_P(Boundaries, BatteryConfigRejected,
                         testing::Values(Parameters{499, 45000, 1}, Parameters{20001, 45000, 1},
                                         Parameters{-1, 45000, 1}, Parameters{2600, 999, 1},
                                         Parameters{2600, 1000001, 1}, Parameters{2600, -1, 1},
                                         Parameters{2600, 45000, 3}, Parameters{2600, 45000, -1},
                                         Parameters{65536 + 2600, 45000, 1}));

TEST(BatteryConfig, EncodesTheReport) {
    const BatteryConfig config(2600, 45000, 2);
    EXPECT_THAT(config.report(), ElementsAre(0x07, 0x28, 0x0A, 0xC8, 0xAF, 0x00, 0x00, 0x02));
    EXPECT_DOUBLE_EQ(config.resistanceMilliOhms(), 45.0);
}

TEST(BatteryConfig, DecodesTheReport) {
    // clang-format off
    const Bytes report = {
        0x07,                   // report ID
        0xF4, 0x01,             // capacity 500 mAh
        0xE8, 0x03, 0x00, 0x00, // resistance 1000 µΩ
        0x00,                   // nominal 3.6 V
        0xEE,                   // trailing byte, ignored
    };
    // clang-format on
    const BatteryConfig config(report);
    EXPECT_EQ(config, BatteryConfig(500, 1000, 0));
    EXPECT_DOUBLE_EQ(config.resistanceMilliOhms(), 1.0);
}

TEST(BatteryConfig, ReportCheckComesBeforeTheRangeCheck) {
    EXPECT_THAT(
        [] {
            BatteryConfig(Bytes{0x07, 0, 0, 0, 0, 0, 0});
        },
        ThrowsMessage<UPSError>("Report 7 长度或标识错误"));
    EXPECT_THAT(
        [] {
            BatteryConfig(Bytes{0x08, 0, 0, 0, 0, 0, 0, 0});
        },
        ThrowsMessage<UPSError>("Report 7 长度或标识错误"));
    // An unconfigured board answers capacity 0.
    EXPECT_THAT([] { BatteryConfig(Bytes{0x07, 0, 0, 0xC8, 0xAF, 0, 0, 2}); }, ThrowsMessage<UPSError>(rangeError));
    // A resistance whose top byte is set must not wrap into range.
    EXPECT_THAT(
        [] {
            BatteryConfig(Bytes{0x07, 0x28, 0x0A, 0xC8, 0xAF, 0x00, 0x80, 2});
        },
        ThrowsMessage<UPSError>(rangeError));
}

TEST(BatteryConfig, EqualityComparesAllThreeFields) {
    const BatteryConfig base(2600, 45000, 2);
    EXPECT_EQ(base, BatteryConfig(2600, 45000, 2));
    EXPECT_NE(base, BatteryConfig(2601, 45000, 2));
    EXPECT_NE(base, BatteryConfig(2600, 45001, 2));
    EXPECT_NE(base, BatteryConfig(2600, 45000, 1));
}
