#include "core/DeviceInfo.h"
#include "core/Report.h"
#include "core/UPSError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using testing::ElementsAre;
using testing::ThrowsMessage;

namespace {

const char* const identityError = "Report 6 长度或标识错误";

} // namespace

TEST(UPSError, MessageIsTheDescription) {
    const UPSError error("设备已断开");
    EXPECT_EQ(error.message(), "设备已断开");
    EXPECT_EQ(error.errorDescription(), "设备已断开");
    EXPECT_STREQ(error.what(), "设备已断开");
}

TEST(Report, AcceptsLongerReportsUntrimmed) {
    const Bytes bytes = {7, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Report report(bytes, 7, 8);
    EXPECT_EQ(report.bytes(), bytes);
}

TEST(Report, RejectsEmptyShortAndForeignReportsWithTheExpectedID) {
    EXPECT_THAT([] { Report(Bytes{}, 8, 0); }, ThrowsMessage<UPSError>("Report 8 长度或标识错误"));
    EXPECT_THAT([] { Report(Bytes{8, 0, 0}, 8, 4); }, ThrowsMessage<UPSError>("Report 8 长度或标识错误"));
    EXPECT_THAT([] { Report(Bytes{7, 0, 0, 0}, 8, 4); }, ThrowsMessage<UPSError>("Report 8 长度或标识错误"));
}

TEST(Report, AccessorsAreLittleEndianWithTheRightSignedness) {
    // clang-format off
    const Bytes bytes = {
        0x01,                   // report ID
        0xFF, 0xFF,             // 0xFFFF: 65535 unsigned, -1 signed
        0x9C, 0xFF,             // -100 signed
        0xFF, 0x7F,             // largest positive i16
        0x00, 0x80,             // smallest i16
        0xDD, 0xCC, 0xBB, 0xAA, // 0xAABBCCDD, top bit set, zero-extended
    };
    // clang-format on
    const Report report(bytes, 1, bytes.size());
    EXPECT_EQ(report.u16(1), 65535);
    EXPECT_EQ(report.i16(1), -1);
    EXPECT_EQ(report.i16(3), -100);
    EXPECT_EQ(report.u16(3), 65436);
    EXPECT_EQ(report.i16(5), 32767);
    EXPECT_EQ(report.i16(7), -32768);
    EXPECT_EQ(report.u32(9), 0xAABBCCDDLL);
    EXPECT_EQ(report.u16(2), 0x9CFF); // odd offsets straddle fields
}

TEST(Report, OutOfBoundsAccessNeverReadsPastTheEnd) {
#ifndef NDEBUG
    GTEST_SKIP() << "debug builds abort on the precondition instead";
#else
    const Report report(Bytes{1, 2, 3}, 1, 3);
    EXPECT_THROW((void)report.u16(2), std::out_of_range);
    EXPECT_THROW((void)report.u32(0), std::out_of_range);
#endif
}

#ifndef NDEBUG
TEST(ReportDeathTest, OutOfBoundsAccessIsAPrecondition) {
    const Report report(Bytes{1, 2, 3}, 1, 3);
    EXPECT_DEATH((void)report.u16(2), "precondition failed");
    EXPECT_DEATH((void)report.u32(0), "precondition failed");
}
#endif

TEST(LittleEndian, WritesExactlyCountBytes) {
    EXPECT_THAT(littleEndian(20000, 2), ElementsAre(0x20, 0x4E));
    EXPECT_THAT(littleEndian(20000, 4), ElementsAre(0x20, 0x4E, 0x00, 0x00));
    EXPECT_THAT(littleEndian(258, 6), ElementsAre(0x02, 0x01, 0x00, 0x00, 0x00, 0x00));
    EXPECT_THAT(littleEndian(0x12345678, 2), ElementsAre(0x78, 0x56));
    EXPECT_TRUE(littleEndian(0xFFFFFFFF, 0).empty());
}

TEST(DeviceInfo, DecodesVersionsInPlainDecimal) {
    const DeviceInfo info(Bytes{6, 1, 2, 1, 0, 8});
    EXPECT_EQ(info.hardware, "1.2");
    EXPECT_EQ(info.software, "1.0.8");

    const DeviceInfo wide(Bytes{6, 10, 255, 0, 12, 200, 99}); // a trailing byte is ignored
    EXPECT_EQ(wide.hardware, "10.255");
    EXPECT_EQ(wide.software, "0.12.200");
    EXPECT_EQ(wide, DeviceInfo("10.255", "0.12.200"));
}

TEST(DeviceInfo, RejectsReportsThatAreNotIdentity) {
    EXPECT_THAT([] { DeviceInfo(Bytes{7, 1, 2, 1, 0, 8}); }, ThrowsMessage<UPSError>(identityError));
    EXPECT_THAT([] { DeviceInfo(Bytes{6, 1, 2, 1, 0}); }, ThrowsMessage<UPSError>(identityError));
    EXPECT_THAT([] { DeviceInfo(Bytes{}); }, ThrowsMessage<UPSError>(identityError));
}

TEST(DeviceInfo, FullReportFromSoftware108ComparedNumerically) {
    for (const char* software : {"1.0.8", "1.0.10", "1.1.0", "2.0.0", "01.0.08"}) {
        EXPECT_TRUE(DeviceInfo("1.0", software).supportsFullReport()) << software;
    }
    for (const char* software : {"1.0.7", "0.9.99", "1.0", "1.0.8.1", "", "v1.0.8", "1.0.99999999999999999999"}) {
        EXPECT_FALSE(DeviceInfo("1.0", software).supportsFullReport()) << software;
    }
}
