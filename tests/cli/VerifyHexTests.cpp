#include "HexFixtures.h"
#include "Process.h"

#include <cstdio>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quelmar::test;

namespace {

const std::string hexData = std::string(QUELMAR_TEST_DATA) + "/hex/";

ProcessResult verify(const std::string& path) {
    return runProcess(QUELMAR_EXECUTABLE, {"--verify-hex", path});
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

void expectFailure(const ProcessResult& result, const std::string& line) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, line + "\n");
    EXPECT_EQ(result.err, "");
}

} // namespace

TEST(VerifyHex, PrintsSizeAndCRC) {
    const auto result = verify(hexData + "minimal_one_byte.hex");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "bytes=1 crc32=59bc5767\n");
    EXPECT_EQ(result.err, "");
}

TEST(VerifyHex, AFullAreaFileWrittenByObjcopy) {
    const TemporaryDirectory dir;
    writeFile(dir / "app.bin", patternBytes(44928, 3));
    objcopyHex(dir / "app.bin", 0x08003000, dir / "app.hex");
    const auto result = verify((dir / "app.hex").string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "bytes=44928 crc32=" + hex8(zlibCRC32(dir / "app.bin")) + "\n");
    EXPECT_EQ(result.err, "");
}

TEST(VerifyHex, TheFirstOccurrenceCountsWhereverItStands) {
    const auto result =
        runProcess(QUELMAR_EXECUTABLE, {"x", "--verify-hex", hexData + "minimal_one_byte.hex", "--verify-hex", "y"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "bytes=1 crc32=59bc5767\n");
}

TEST(VerifyHex, PrintsTheParseErrorAlone) {
    expectFailure(verify(hexData + "bad_checksum_line3.hex"), "HEX 第 3 行：长度或校验和错误");
    expectFailure(verify(hexData + "missing_eof.hex"), "HEX 缺少 EOF 或 APP 起始地址错误");
    expectFailure(verify(hexData + "invalid_utf8.hex"), "HEX 文件不是有效的 UTF-8 文本");
}

TEST(VerifyHex, FilesThatCannotBeRead) {
    const TemporaryDirectory dir;
    const auto missing = (dir / "missing.hex").string();
    expectFailure(verify(missing), missing + ": No such file or directory");
    expectFailure(verify(dir.path().string()), dir.path().string() + ": Is a directory");
    expectFailure(verify(""), ": No such file or directory");
}

TEST(VerifyHex, FilesWithoutPermission) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    const TemporaryDirectory dir;
    const auto path = dir / "locked.hex";
    writeFile(path, readFile(hexData + "minimal_one_byte.hex"));
    chmod(path.c_str(), 0);
    expectFailure(verify(path.string()), path.string() + ": Permission denied");
}

TEST(VerifyHex, FilesUpToTwoMiBAreRead) {
    const TemporaryDirectory dir;
    auto text = readFile(hexData + "minimal_one_byte.hex");
    text.resize(2 * 1024 * 1024, '\n');
    writeFile(dir / "limit.hex", text);
    const auto accepted = verify((dir / "limit.hex").string());
    EXPECT_EQ(accepted.status, 0);
    EXPECT_EQ(accepted.out, "bytes=1 crc32=59bc5767\n");

    writeFile(dir / "over.hex", text + "\n");
    expectFailure(verify((dir / "over.hex").string()), "HEX 文件过大");
}

TEST(VerifyHex, LargerFilesAreRefusedByTheirSize) {
    const TemporaryDirectory dir;
    // A sparse file of 1 GiB.
    const auto path = dir / "huge.hex";
    writeFile(path, readFile(hexData + "minimal_one_byte.hex"));
    ASSERT_EQ(truncate(path.c_str(), 1LL << 30), 0);
    expectFailure(verify(path.string()), "HEX 文件过大");
}

TEST(VerifyHex, EndlessStreamsAreCutOffAtTheLimit) {
    expectFailure(verify("/dev/zero"), "HEX 文件过大");
}
