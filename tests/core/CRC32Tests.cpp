#include "HexFixtures.h"
#include "core/CRC32.h"

#include <string_view>

#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(CRC32, KnownValues) {
    EXPECT_EQ(CRC32::compute(text("123456789")), 0xCBF43926u);
    EXPECT_EQ(CRC32::compute({}), 0u);
    EXPECT_EQ(CRC32::compute(Bytes{0x00}), 0xD202EF8Du);
    EXPECT_EQ(CRC32::compute(Bytes{0xFF}), 0xFF000000u);
    EXPECT_EQ(CRC32::compute(Bytes(32, 0xFF)), 0xFF6CAB0Bu);
    EXPECT_EQ(CRC32::compute(text("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(CRC32, AgreesWithPythonZlib) {
    const TemporaryDirectory dir;
    for (const std::size_t size : {1, 2, 3, 4, 5, 61, 255, 4096, 44928}) {
        const auto bytes = patternBytes(size, static_cast<std::uint32_t>(size) + 100);
        writeFile(dir / "data.bin", bytes);
        EXPECT_EQ(CRC32::compute(bytes), zlibCRC32(dir / "data.bin")) << size;
    }
}
