#include "core/Base64.h"
#include "core/Hex.h"
#include "core/Sha256.h"
#include "core/SignedUpdates.h"
#include "core/URLs.h"

#include <random>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sodium.h>

using namespace quelmar;
using testing::ElementsAre;

namespace {

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST(Hash, IsLowerCaseHexSha256) {
    EXPECT_EQ(SignedUpdates::hash({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(SignedUpdates::hash(bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks, with the padding in the second.
    EXPECT_EQ(SignedUpdates::hash(bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Hash, IncrementalEqualsWhole) {
    Bytes data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    Sha256 running;
    for (std::size_t at = 0; at < data.size(); at += 997) {
        running.update(ByteView(data).subspan(at, std::min<std::size_t>(997, data.size() - at)));
    }
    EXPECT_EQ(toHex(running.finish()), SignedUpdates::hash(data));
    // finish() starts over.
    running.update(bytes("abc"));
    EXPECT_EQ(toHex(running.finish()), SignedUpdates::hash(bytes("abc")));
}

TEST(ValidHash, IsExactlySixtyFourLowerCaseHexDigits) {
    EXPECT_TRUE(SignedUpdates::validHash(std::string(64, '0')));
    EXPECT_TRUE(SignedUpdates::validHash("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(SignedUpdates::validHash("0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(SignedUpdates::validHash(std::string(63, 'a')));
    EXPECT_FALSE(SignedUpdates::validHash(std::string(65, 'a')));
    EXPECT_FALSE(SignedUpdates::validHash(std::string(63, 'a') + "g"));
    EXPECT_FALSE(SignedUpdates::validHash(std::string(63, 'a') + " "));
    EXPECT_FALSE(SignedUpdates::validHash(""));
}

TEST(Hex, DecodesPairsOfEitherCase) {
    EXPECT_THAT(*fromHex("00ff7Fa0"), ElementsAre(0x00, 0xFF, 0x7F, 0xA0));
    EXPECT_TRUE(fromHex("")->empty());
    EXPECT_EQ(fromHex("abc"), std::nullopt);
    EXPECT_EQ(fromHex("0g"), std::nullopt);
    EXPECT_EQ(fromHex("+f"), std::nullopt);
    EXPECT_EQ(fromHex(" 0"), std::nullopt);
    EXPECT_EQ(fromHex("é0"), std::nullopt);
    EXPECT_EQ(toHex(Bytes{0x00, 0x0A, 0xFF}), "000aff");
}

TEST(Base64, StrictDecodingAcceptsOnlyCanonicalPaddedText) {
    EXPECT_EQ(decodeBase64("YWJj"), bytes("abc"));
    EXPECT_EQ(decodeBase64("YWI="), bytes("ab"));
    EXPECT_EQ(decodeBase64("YQ=="), bytes("a"));
    EXPECT_EQ(decodeBase64(""), Bytes{});
    for (const char* text :
         {"YQ", "YQ=", "YWI", "YW Jj", "YWJj\n", "\nYWJj", "YW=j", "YWJj====", "Y-_j", "YR==", "*"}) {
        EXPECT_EQ(decodeBase64(text), std::nullopt) << text;
    }
    EXPECT_EQ(encodeBase64(bytes("ab")), "YWI=");
}

TEST(Base64, LenientDecodingSkipsCharactersOutsideTheAlphabet) {
    EXPECT_EQ(decodeBase64IgnoringOthers("YW\nJj\r\n"), bytes("abc"));
    EXPECT_EQ(decodeBase64IgnoringOthers(" Y W I = "), bytes("ab"));
    EXPECT_EQ(decodeBase64IgnoringOthers(std::string("YW\0Jj", 5)), bytes("abc"));
    EXPECT_EQ(decodeBase64IgnoringOthers("YQ"), std::nullopt);
    EXPECT_EQ(decodeBase64IgnoringOthers("YQ==YQ=="), std::nullopt);
}

TEST(URLs, SchemeIsTakenAsWritten) {
    EXPECT_EQ(urlScheme("https://h/x"), "https");
    EXPECT_EQ(urlScheme("HTTPS://h/x"), "HTTPS");
    EXPECT_EQ(urlScheme("git+ssh://h"), "git+ssh");
    EXPECT_EQ(urlScheme("/relative/path"), std::nullopt);
    EXPECT_EQ(urlScheme("h.example/x:y"), std::nullopt);
    EXPECT_EQ(urlScheme("1http://h"), std::nullopt);
    EXPECT_TRUE(isHTTPSURL("https://h.example:8443/a?b=c#d"));
    EXPECT_FALSE(isHTTPSURL("https://"));
    EXPECT_FALSE(isHTTPSURL("https:h.example"));
    EXPECT_FALSE(isHTTPSURL("https://h.example/\x7f"));
    EXPECT_FALSE(isHTTPSURL("https://h.example/\xc3\xa9"));
}

// The decoder is the project's own for speed; it must accept exactly what libsodium's strict one does.
TEST(Base64, StrictDecodingAgreesWithLibsodium) {
    const std::string characters = "AQgw+/=A=\n -_*";
    std::mt19937 generator(11);
    for (int round = 0; round < 200000; ++round) {
        std::string text(generator() % 13, 'A');
        for (auto& c : text) {
            c = characters[generator() % characters.size()];
        }
        Bytes expected(text.size() + 1);
        std::size_t length = 0;
        const bool accepted = sodium_base642bin(expected.data(), expected.size(), text.data(), text.size(), nullptr,
                                                &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0;
        expected.resize(length);
        const auto decoded = decodeBase64(text);
        ASSERT_EQ(decoded.has_value(), accepted) << '"' << text << '"';
        if (accepted) {
            ASSERT_EQ(*decoded, expected) << text;
        }
    }
}
