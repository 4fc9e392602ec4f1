#include "HexFixtures.h"
#include "core/CRC32.h"
#include "core/FirmwareImage.h"
#include "core/UPSError.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::string_literals;
using testing::ThrowsMessage;

namespace {

const std::string linear0800 = hexRecord(0x04, 0, {0x08, 0x00});
const std::string endOfFile = hexRecord(0x01, 0, {});
const std::string finalError = "HEX 缺少 EOF 或 APP 起始地址错误";
const std::string utf8Error = "HEX 文件不是有效的 UTF-8 文本";

std::string data(std::uint16_t offset, const std::vector<std::uint8_t>& bytes) {
    return hexRecord(0x00, offset, bytes);
}

std::string join(const std::vector<std::string>& lines, const std::string& separator = "\n") {
    std::string out;
    for (const auto& line : lines) {
        out += line + separator;
    }
    return out;
}

std::string atLine(int line, const std::string& reason) {
    return "HEX 第 " + std::to_string(line) + " 行：" + reason;
}

FirmwareImage parse(const std::string& text) {
    return FirmwareImage(text);
}

} // namespace

// Golden files that load: their image and its CRC-32 as Python's zlib computes it.
struct ValidFile {
    std::string name;
    std::function<Bytes()> bytes;
    std::uint32_t crc;
};

void PrintTo(const ValidFile& value, std::ostream* out) {
    *out << value.name;
}

class ValidGoldenFile : public testing::TestWithParam<ValidFile> {};
TEST_P(ValidGoldenFile, YieldsTheImage) {
    const auto& expected = GetParam();
    const FirmwareImage image(readFile(std::string(QUELMAR_TEST_DATA) + "/hex/" + expected.name));
    EXPECT_EQ(image.bytes(), expected.bytes());
    EXPECT_EQ(image.crc32(), expected.crc);
}
INSTANTIATE_TEST_SUITE_P(
    Golden, ValidGoldenFile,
    testing::Values(ValidFile{"minimal_one_byte.hex", [] { return Bytes{0x5A}; }, 0x59BC5767},
                    ValidFile{"gap_filled_with_ff.hex",
                              [] {
                                  Bytes b(0x101, 0xFF);
                                  b.front() = 0x11;
                                  b.back() = 0x22;
                                  return b;
                              },
                              0x77198F07},
                    ValidFile{"last_byte_of_area.hex",
                              [] {
                                  Bytes b(44928, 0xFF);
                                  b.front() = 0x01;
                                  b.back() = 0x7F;
                                  return b;
                              },
                              0xFB0B1EA1},
                    ValidFile{"records_out_of_order.hex", [] { return Bytes{1, 2, 3, 4, 5, 6}; }, 0x81F67724},
                    ValidFile{"blank_lines_spaces_lowercase.hex",
                              [] {
                                  return Bytes{0xAB, 0xCD, 0xEF};
                              },
                              0x648D3D79},
                    ValidFile{"start_address_records.hex", [] { return Bytes{0x42}; }, 0x4AD0CF31},
                    ValidFile{"segment_base_replaced_by_linear.hex", [] { return Bytes{0x33}; }, 0x6DD28E9B}),
    [](const auto& test) { return test.param.name.substr(0, test.param.name.size() - 4); });

// Golden files that are refused, with their message.
struct FaultyFile {
    std::string name;
    std::string message;
};

void PrintTo(const FaultyFile& value, std::ostream* out) {
    *out << value.name;
}

class FaultyGoldenFile : public testing::TestWithParam<FaultyFile> {};
TEST_P(FaultyGoldenFile, IsRefusedWithItsMessage) {
    const auto text = readFile(std::string(QUELMAR_TEST_DATA) + "/hex/" + GetParam().name);
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(GetParam().message));
}
INSTANTIATE_TEST_SUITE_P(
    Golden, FaultyGoldenFile,
    testing::Values(FaultyFile{"byte_past_area.hex", atLine(4, "超出 APP 安全区域")},
                    FaultyFile{"no_extended_address.hex", atLine(1, "超出 APP 安全区域")},
                    FaultyFile{"linear_base_replaced_by_segment.hex", atLine(4, "超出 APP 安全区域")},
                    FaultyFile{"overlap_equal_values.hex", atLine(3, "数据地址重叠")},
                    FaultyFile{"overlap_different_values.hex", atLine(3, "数据地址重叠")},
                    FaultyFile{"data_after_eof.hex", atLine(5, "EOF 后存在数据或缺少冒号")},
                    FaultyFile{"bad_checksum_line3.hex", atLine(3, "长度或校验和错误")},
                    FaultyFile{"crlf_bad_checksum_line3.hex", atLine(5, "长度或校验和错误")},
                    FaultyFile{"starts_after_app_start.hex", finalError}, FaultyFile{"missing_eof.hex", finalError},
                    FaultyFile{"eof_without_data.hex", finalError}, FaultyFile{"invalid_utf8.hex", utf8Error}),
    [](const auto& test) { return test.param.name.substr(0, test.param.name.size() - 4); });

// One faulty line, always line 2: after it come a valid data record and the end of file.
struct FaultyLine {
    std::string line;
    std::string reason;
};

void PrintTo(const FaultyLine& value, std::ostream* out) {
    *out << testing::PrintToString(value.line);
}

class FaultyLineTest : public testing::TestWithParam<FaultyLine> {};
TEST_P(FaultyLineTest, NamesTheLineAndTheReason) {
    const auto text = join({linear0800, GetParam().line, data(0x3000, {0x01}), endOfFile});
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(atLine(2, GetParam().reason)));
}

// The colon, also when something that looks like one stands there.
INSTANTIATE_TEST_SUITE_P(Colon, FaultyLineTest,
                         testing::Values(FaultyLine{"020000040800F2", "EOF 后存在数据或缺少冒号"},
                                         FaultyLine{";00000001FF", "EOF 后存在数据或缺少冒号"},
                                         FaultyLine{"：00000001FF", "EOF 后存在数据或缺少冒号"},
                                         // ":" with a combining accent is one character, and not a colon.
                                         FaultyLine{":\u030100000001FF", "EOF 后存在数据或缺少冒号"},
                                         // Format characters are not separators and are not trimmed.
                                         FaultyLine{"\uFEFF:00000001FF", "EOF 后存在数据或缺少冒号"},
                                         FaultyLine{"\u200B:00000001FF", "EOF 后存在数据或缺少冒号"}));

// The number of characters after the colon, counted as user-visible characters.
INSTANTIATE_TEST_SUITE_P(
    OddLength, FaultyLineTest,
    testing::Values(FaultyLine{":0", "十六进制长度错误"}, FaultyLine{":000000001", "十六进制长度错误"},
                    FaultyLine{":0G0", "十六进制长度错误"},                              // odd wins over invalid digits
                    FaultyLine{":é", "十六进制长度错误"},                                // 2 bytes, one character
                    FaultyLine{":A\u0301", "十六进制长度错误"},                          // 2 scalars, one character
                    FaultyLine{":🇨🇳", "十六进制长度错误"},                               // a flag: 2 scalars, 8 bytes
                    FaultyLine{":👍🏽", "十六进制长度错误"},                         // emoji and skin-tone modifier
                    FaultyLine{":\u1100\u1161", "十六进制长度错误"},                     // one Hangul syllable of jamo
                    FaultyLine{":\U0001F3F3\uFE0F\u200D\U0001F308", "十六进制长度错误"}, // 4 scalars joined by ZWJ
                    FaultyLine{":00000001FF\uFEFF", "十六进制长度错误"},
                    FaultyLine{":00000001FF\0"s, "十六进制长度错误"}));

// Pairs that are not two hex digits; the non-ASCII cases would have an odd length counted in scalars.
INSTANTIATE_TEST_SUITE_P(InvalidHex, FaultyLineTest,
                         testing::Values(FaultyLine{":GG", "无效十六进制"}, FaultyLine{":0x", "无效十六进制"},
                                         FaultyLine{":+1", "无效十六进制"}, FaultyLine{":-1", "无效十六进制"},
                                         FaultyLine{":0000000 01FF", "无效十六进制"},
                                         FaultyLine{":００", "无效十六进制"}, FaultyLine{":٠٠", "无效十六进制"},
                                         FaultyLine{":A\u0301B", "无效十六进制"},
                                         FaultyLine{":00\u0301", "无效十六进制"}, FaultyLine{":🇨🇳🇨", "无效十六进制"},
                                         FaultyLine{":00000001F\u00A0\u0301", "无效十六进制"}));

// Byte count and checksum; both are checked before the record type.
INSTANTIATE_TEST_SUITE_P(
    LengthOrChecksum, FaultyLineTest,
    testing::Values(FaultyLine{":", "长度或校验和错误"}, FaultyLine{":00000001", "长度或校验和错误"},
                    FaultyLine{":01000000FF", "长度或校验和错误"}, FaultyLine{":0000000100FF", "长度或校验和错误"},
                    FaultyLine{":FF00000001", "长度或校验和错误"}, FaultyLine{":00000001FE", "长度或校验和错误"},
                    FaultyLine{":0130010002CD", "长度或校验和错误"}, FaultyLine{":00000006FF", "长度或校验和错误"}));

// Record types and their fields.
INSTANTIATE_TEST_SUITE_P(RecordTypes, FaultyLineTest,
                         testing::Values(FaultyLine{hexRecord(0x01, 0, {0x00}), "EOF 错误"},
                                         FaultyLine{hexRecord(0x01, 1, {}), "EOF 错误"},
                                         FaultyLine{hexRecord(0x04, 0, {0x08}), "扩展地址错误"},
                                         FaultyLine{hexRecord(0x04, 0, {0x08, 0x00, 0x00}), "扩展地址错误"},
                                         FaultyLine{hexRecord(0x04, 2, {0x08, 0x00}), "扩展地址错误"},
                                         FaultyLine{hexRecord(0x02, 0, {0x10}), "扩展地址错误"},
                                         FaultyLine{hexRecord(0x02, 0x100, {0x10, 0x00}), "扩展地址错误"},
                                         FaultyLine{hexRecord(0x03, 0, {0x00, 0x00, 0x30}), "入口地址错误"},
                                         FaultyLine{hexRecord(0x05, 0, {0x08, 0x00, 0x30, 0x00, 0x00}), "入口地址错误"},
                                         FaultyLine{hexRecord(0x05, 1, {0x08, 0x00, 0x30, 0x00}), "入口地址错误"},
                                         FaultyLine{hexRecord(0x06, 0, {}), "不支持的记录类型"},
                                         FaultyLine{hexRecord(0x10, 0, {0x00}), "不支持的记录类型"},
                                         FaultyLine{hexRecord(0xFF, 0, {}), "不支持的记录类型"}));

// Data addresses: segment overflow before the area, the area's bounds on both sides.
INSTANTIATE_TEST_SUITE_P(Addresses, FaultyLineTest,
                         testing::Values(FaultyLine{data(0xFFF0, Bytes(17, 0)), "地址溢出"},
                                         FaultyLine{data(0xFFFF, Bytes(2, 0)), "地址溢出"},
                                         // Ends exactly at the top of the segment: no overflow, outside the area.
                                         FaultyLine{data(0xFFF0, Bytes(16, 0)), "超出 APP 安全区域"},
                                         FaultyLine{data(0x2FFF, {0x00}), "超出 APP 安全区域"},
                                         FaultyLine{data(0xDF80, {0x00}), "超出 APP 安全区域"},
                                         FaultyLine{data(0xDF7E, {0x00, 0x00, 0x00}), "超出 APP 安全区域"}));

TEST(FirmwareImage, LinesAfterTheEndOfFileAreRefusedBeforeTheyAreRead) {
    for (const std::string& line : {":0"s, "garbage"s, ":00000001FF"s, data(0x3001, {0x02})}) {
        const auto text = join({linear0800, data(0x3000, {0x01}), endOfFile, line});
        EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(atLine(4, "EOF 后存在数据或缺少冒号"))) << line;
    }
}

TEST(FirmwareImage, EmptyDataRecordsStoreNothing) {
    const auto image = parse(join({linear0800, data(0x3000, {0x07}), data(0xFFFF, {}), data(0x3000, {}), endOfFile}));
    EXPECT_EQ(image.bytes(), Bytes{0x07});
}

TEST(FirmwareImage, FinalCheckHasNoLineNumber) {
    for (const std::string& text :
         {""s, "\n\n \t\n"s, join({linear0800, data(0x3000, {1})}), join({linear0800, endOfFile}),
          join({linear0800, data(0x3001, {1}), data(0xDF7F, {1}), endOfFile}),
          join({linear0800, data(0x3000, {}), endOfFile})}) {
        EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(finalError)) << text;
    }
}

TEST(FirmwareImage, LastLineNeedsNoLineBreak) {
    EXPECT_EQ(parse(linear0800 + "\n" + data(0x3000, {0x5A}) + "\n" + endOfFile).bytes(), Bytes{0x5A});
}

TEST(FirmwareImage, SegmentAddressingNeverReachesTheArea) {
    // The highest segment base, 0xFFFF0, plus the highest offset stays below 0x08003000.
    const auto text = join({hexRecord(0x02, 0, {0xFF, 0xFF}), data(0xFFFF, {0x01}), endOfFile});
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(atLine(2, "超出 APP 安全区域")));
}

TEST(FirmwareImage, TheLinearBaseIsNotCombinedWithAnEarlierSegmentBase) {
    const auto text = join({hexRecord(0x02, 0, {0x80, 0x00}), linear0800, data(0x3000, {0x01}), endOfFile});
    EXPECT_EQ(parse(text).bytes(), Bytes{0x01});
}

TEST(FirmwareImage, OffsetsAreBigEndian) {
    // 0x0030 little-endian would be 0x3000: the record must land outside the area.
    const auto text = join({linear0800, data(0x3000, {0x01}), data(0x0030, {0x02}), endOfFile});
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(atLine(3, "超出 APP 安全区域")));
}

TEST(FirmwareImage, AFullAreaInOneGo) {
    const auto bytes = patternBytes(44928);
    const FirmwareImage image(intelHex(static_cast<std::uint32_t>(FirmwareImage::start), bytes, 255));
    EXPECT_EQ(image.bytes(), bytes);
    EXPECT_EQ(image.crc32(), CRC32::compute(bytes));
}

// Each newline character is one line break, CR LF two; the fault stands on the third physical line.
struct LineBreak {
    std::string name;
    std::string separator;
    int reportedLine;
};

void PrintTo(const LineBreak& value, std::ostream* out) {
    *out << value.name;
}

class LineBreakTest : public testing::TestWithParam<LineBreak> {};
TEST_P(LineBreakTest, CountsLines) {
    const auto text = join({linear0800, data(0x3000, {0x01}), ":00000001FE", endOfFile}, GetParam().separator);
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(atLine(GetParam().reportedLine, "长度或校验和错误")));
}
INSTANTIATE_TEST_SUITE_P(Newlines, LineBreakTest,
                         testing::Values(LineBreak{"LF", "\n", 3}, LineBreak{"CR", "\r", 3}, LineBreak{"VT", "\v", 3},
                                         LineBreak{"FF", "\f", 3}, LineBreak{"NEL", "\u0085", 3},
                                         LineBreak{"LS", "\u2028", 3}, LineBreak{"PS", "\u2029", 3},
                                         LineBreak{"CRLF", "\r\n", 5}, LineBreak{"LFCR", "\n\r", 5},
                                         LineBreak{"LF_LS", "\n\u2028", 5}),
                         [](const auto& test) { return test.param.name; });

TEST(FirmwareImage, ValidFilesLoadWithEveryKindOfLineBreak) {
    for (const std::string separator : {"\n", "\r", "\r\n", "\v", "\f", "\u0085", "\u2028", "\u2029"}) {
        EXPECT_EQ(parse(join({linear0800, data(0x3000, {0x5A}), endOfFile}, separator)).bytes(), Bytes{0x5A});
    }
}

// Separators of category Z and tabs are trimmed on both sides.
class TrimmedAround : public testing::TestWithParam<std::string> {};
TEST_P(TrimmedAround, Records) {
    const auto& s = GetParam();
    const auto text = join({s + linear0800 + s, s + data(0x3000, {0x5A}) + s, s, s + endOfFile + s, s});
    EXPECT_EQ(parse(text).bytes(), Bytes{0x5A});
}
INSTANTIATE_TEST_SUITE_P(Separators, TrimmedAround,
                         testing::Values(" ", "\t", " \t ", "\u00A0", "\u1680", "\u2002", "\u2009", "\u200A", "\u202F",
                                         "\u205F", "\u3000", "\t\u3000 \u00A0"));

// Anything that is not UTF-8 is refused as a whole, before any line is examined.
class NotUTF8 : public testing::TestWithParam<std::string> {};
TEST_P(NotUTF8, IsRefused) {
    const auto text = join({linear0800, ":00000001FE", GetParam(), data(0x3000, {0x01}), endOfFile});
    EXPECT_THAT([&] { parse(text); }, ThrowsMessage<UPSError>(utf8Error));
    EXPECT_THAT(
        [&] {
            parse(join({linear0800, data(0x3000, {1}), endOfFile}) + GetParam());
        },
        ThrowsMessage<UPSError>(utf8Error));
}
INSTANTIATE_TEST_SUITE_P(Sequences, NotUTF8,
                         testing::Values("\xC3\x28", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80",
                                         "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xFF",
                                         "\xE2\x82", "\xF0\x9F\x98", ":00\xC3"));
