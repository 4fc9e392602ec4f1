// Intel HEX files written by Debian's objcopy and srec_cat, checked against the binaries they were made from
// and against Python's zlib.crc32.
#include "HexFixtures.h"
#include "Matchers.h"
#include "core/CRC32.h"
#include "core/FirmwareImage.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::MatchesRegex;

namespace {

constexpr auto start = static_cast<std::uint32_t>(FirmwareImage::start);

enum class Tool { objcopy, srecCat, srecCat61, srecCat255 };

void writeHex(Tool tool, const std::filesystem::path& binary, std::uint32_t address, const std::filesystem::path& hex) {
    switch (tool) {
    case Tool::objcopy:
        objcopyHex(binary, address, hex);
        break;
    case Tool::srecCat:
        srecCatHex({{binary, address}}, hex);
        break;
    case Tool::srecCat61:
        srecCatHex({{binary, address}}, hex, 61);
        break;
    case Tool::srecCat255:
        srecCatHex({{binary, address}}, hex, 255);
        break;
    }
}

std::string toolName(Tool tool) {
    switch (tool) {
    case Tool::objcopy:
        return "objcopy";
    case Tool::srecCat:
        return "srec_cat";
    case Tool::srecCat61:
        return "srec_cat_61";
    case Tool::srecCat255:
        return "srec_cat_255";
    }
    return "";
}

} // namespace

class ToolWrittenImage : public testing::TestWithParam<std::tuple<Tool, std::size_t>> {};

TEST_P(ToolWrittenImage, MatchesTheSourceBinary) {
    const auto [tool, size] = GetParam();
    const TemporaryDirectory dir;
    const auto bytes = patternBytes(size, static_cast<std::uint32_t>(size));
    writeFile(dir / "app.bin", bytes);
    writeHex(tool, dir / "app.bin", start, dir / "app.hex");

    const FirmwareImage image(readFile(dir / "app.hex"));
    EXPECT_EQ(image.bytes(), bytes);
    EXPECT_EQ(image.crc32(), zlibCRC32(dir / "app.bin"));
}

TEST_P(ToolWrittenImage, OneAddressLateOrOneByteTooManyIsRefused) {
    const auto [tool, size] = GetParam();
    const TemporaryDirectory dir;
    writeFile(dir / "app.bin", patternBytes(size));
    writeHex(tool, dir / "app.bin", start + 1, dir / "late.hex");
    if (size == 44928) {
        EXPECT_THAT([&] { FirmwareImage{readFile(dir / "late.hex")}; },
                    ThrowsUPSErrorThat(MatchesRegex("HEX 第 [0-9]+ 行：超出 APP 安全区域")));
        writeFile(dir / "long.bin", patternBytes(size + 1));
        writeHex(tool, dir / "long.bin", start, dir / "long.hex");
        EXPECT_THAT([&] { FirmwareImage{readFile(dir / "long.hex")}; },
                    ThrowsUPSErrorThat(MatchesRegex("HEX 第 [0-9]+ 行：超出 APP 安全区域")));
    } else {
        EXPECT_THAT([&] { FirmwareImage{readFile(dir / "late.hex")}; },
                    ThrowsUPSError("HEX 缺少 EOF 或 APP 起始地址错误"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ToolWrittenImage,
    testing::Combine(testing::Values(Tool::objcopy, Tool::srecCat, Tool::srecCat61, Tool::srecCat255),
                     testing::Values(std::size_t{1}, std::size_t{61}, std::size_t{1000}, std::size_t{44928})),
    [](const auto& test) { return toolName(std::get<0>(test.param)) + "_" + std::to_string(std::get<1>(test.param)); });

TEST(ToolWrittenImage, GapsBetweenBinariesAreFilledWithFF) {
    const TemporaryDirectory dir;
    const auto first = patternBytes(200, 7);
    const auto second = patternBytes(300, 8);
    writeFile(dir / "first.bin", first);
    writeFile(dir / "second.bin", second);
    // The second binary first: records in descending address order.
    srecCatHex({{dir / "second.bin", start + 0x1000}, {dir / "first.bin", start}}, dir / "app.hex");

    auto expected = first;
    expected.resize(0x1000, 0xFF);
    expected.insert(expected.end(), second.begin(), second.end());
    writeFile(dir / "expected.bin", expected);

    const FirmwareImage image(readFile(dir / "app.hex"));
    EXPECT_EQ(image.bytes(), expected);
    EXPECT_EQ(image.crc32(), zlibCRC32(dir / "expected.bin"));
}

TEST(ToolWrittenImage, TwoBinariesOverTheSameAddressesAreRefused) {
    const TemporaryDirectory dir;
    writeFile(dir / "a.bin", patternBytes(64, 1));
    // objcopy writes the file for the area; a second copy of its data records is appended before its end.
    objcopyHex(dir / "a.bin", start, dir / "a.hex");
    auto text = readFile(dir / "a.hex");
    const auto eof = text.find(":00000001FF");
    ASSERT_NE(eof, std::string::npos);
    const auto firstData = text.find("\n") + 1;
    text.insert(eof, text.substr(firstData, text.find("\n", firstData) + 1 - firstData));
    EXPECT_THAT([&] { FirmwareImage{text}; }, ThrowsUPSErrorThat(MatchesRegex("HEX 第 [0-9]+ 行：数据地址重叠")));
}
