#include "Matchers.h"
#include "SignedFeeds.h"
#include "core/Base64.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"

#include <functional>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using nlohmann::json;
using testing::ThrowsMessage;

namespace {

const char* const encodingError = "更新清单编码错误";
const char* const signatureError = "更新清单签名无效，已拒绝更新";

UpdateFeed verifyEnvelope(const std::string& envelope, const std::string& key = developmentPublicKey()) {
    return SignedUpdates::verify(bytesOf(envelope), key);
}

// An envelope whose members are given as they are, for tampering.
std::string envelopeOf(const std::string& payload, const std::string& signature) {
    return json{{"payload", payload}, {"signature", signature}}.dump();
}

json envelopeJSON(const std::string& feed) {
    return json::parse(signedEnvelope(feed));
}

UpdateFeed verifyFeed(const json& feed) {
    return verifyEnvelope(signedEnvelopeOf(feed));
}

} // namespace

TEST(Verify, ReturnsTheSignedFeedAsWritten) {
    const std::string text = R"({
  "schema": 1,
  "comment": "unknown members are ignored",
  "packages": [
    {"kind": "monitor", "platform": "linux", "implementation": "native", "version": "2.1.0",
     "url": "https://h.example/c.zip", "size": 3, "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "notes": "新版本", "model": null, "extra": [1, 2]},
    {"kind": "firmware", "model": "Quelmar DC UPS", "hardware": ["1.2"], "version": "1.0.9",
     "url": "https://h.example/f", "size": 2, "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "transport": "raw-chunks", "chunks": [
        {"url": "https://h.example/1", "size": 1, "sha256": "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
        {"url": "https://h.example/2", "size": 1, "sha256": "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d"}]},
    {"kind": "monitor", "version": "0.0.1", "url": "https://h.example/k", "size": 104857600,
     "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", "transport": "korvan-contents"}
  ]
})";
    const auto feed = verifyEnvelope(signedEnvelope(text));
    EXPECT_EQ(feed.schema, 1);
    ASSERT_EQ(feed.packages.size(), 3u);

    const auto& client = feed.packages[0];
    EXPECT_EQ(client.kind, "monitor");
    EXPECT_EQ(client.platform, "linux");
    EXPECT_EQ(client.implementation, "native");
    EXPECT_EQ(client.model, std::nullopt); // null is absent
    EXPECT_TRUE(client.hardware.empty());
    EXPECT_EQ(client.size, 3);
    EXPECT_EQ(client.transport, std::nullopt);
    EXPECT_EQ(client.notes, "新版本");

    const auto& firmware = feed.packages[1];
    EXPECT_EQ(firmware.model, "Quelmar DC UPS");
    EXPECT_EQ(firmware.hardware, std::vector<std::string>{"1.2"});
    ASSERT_TRUE(firmware.chunks.has_value());
    EXPECT_EQ(
        firmware.chunks->at(1),
        (UpdateChunk{"https://h.example/2", 1, "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d"}));

    EXPECT_EQ(feed.packages[2].transport, "korvan-contents");
    EXPECT_EQ(feed.packages[2].chunks, std::nullopt);
}

TEST(Verify, RecordsEncodeWithTheSameKeysAndDecodeBack) {
    const json original = feedOf({clientPackage(), firmwarePackage()});
    const auto feed = verifyEnvelope(signedEnvelopeOf(original));
    const json encoded = feed;
    EXPECT_EQ(encoded, original);
    EXPECT_EQ(encoded.get<UpdateFeed>(), feed);
}

// The signature covers the decoded payload bytes, not what they mean.
TEST(Verify, RejectsAnyChangeOfTheSignedBytes) {
    const std::string text = feedOf({clientPackage()}).dump(2);
    const auto signature = envelopeJSON(text)["signature"].get<std::string>();
    EXPECT_EQ(verifyEnvelope(envelopeOf(encodeBase64(bytesOf(text)), signature)).packages.size(), 1u);
    const auto reindented = json::parse(text).dump(4);
    EXPECT_THAT([&] { verifyEnvelope(envelopeOf(encodeBase64(bytesOf(reindented)), signature)); },
                ThrowsMessage<UPSError>(signatureError));

    auto changed = bytesOf(text);
    changed[changed.size() / 2] ^= 0x01;
    EXPECT_THAT([&] { verifyEnvelope(envelopeOf(encodeBase64(changed), signature)); },
                ThrowsMessage<UPSError>(signatureError));
}

TEST(Verify, ChecksTheSignatureBeforeReadingThePayload) {
    const auto signature = envelopeJSON("{}")["signature"].get<std::string>();
    EXPECT_THAT([&] { verifyEnvelope(envelopeOf(encodeBase64(bytesOf("not json at all")), signature)); },
                ThrowsMessage<UPSError>(signatureError));
}

TEST(Verify, RejectsSignaturesOfTheWrongLengthOrKey) {
    const std::string text = feedOf({}).dump();
    const auto payload = encodeBase64(bytesOf(text));
    auto signature = *decodeBase64(envelopeJSON(text)["signature"].get<std::string>());
    for (const auto& wrong : {Bytes(signature.begin(), signature.end() - 1), Bytes{}, [&] {
                                  auto longer = signature;
                                  longer.push_back(0);
                                  return longer;
                              }()}) {
        EXPECT_THAT([&] { verifyEnvelope(envelopeOf(payload, encodeBase64(wrong))); },
                    ThrowsMessage<UPSError>(signatureError))
            << wrong.size() << " bytes";
    }
    const std::string otherKey = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
    EXPECT_THAT([&] { verifyEnvelope(signedEnvelope(text), otherKey); }, ThrowsMessage<UPSError>(signatureError));
    // A key of the right length that is no curve point at all still only fails the check.
    EXPECT_THAT([&] { verifyEnvelope(signedEnvelope(text), std::string(64, 'f')); },
                ThrowsMessage<UPSError>(signatureError));
}

TEST(Verify, AcceptsTheKeyInEitherCase) {
    auto key = developmentPublicKey();
    std::transform(key.begin(), key.end(), key.begin(), ::toupper);
    EXPECT_NO_THROW(verifyEnvelope(signedEnvelopeOf(feedOf({})), key));
}

struct EncodingCase {
    const char* name;
    std::function<std::string(const std::string& payload, const std::string& signature)> envelope;
    std::function<std::string(const std::string& key)> key = [](const std::string& k) { return k; };
};
class EncodingError : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingError, IsRejectedBeforeTheSignature) {
    // 10 bytes: the Base64 text ends in "==".
    const auto envelope = envelopeJSON(R"({"a": 1})"
                                       "\n\n");
    const auto payload = envelope["payload"].get<std::string>();
    const auto signature = envelope["signature"].get<std::string>();
    ASSERT_TRUE(payload.ends_with("=="));
    EXPECT_THAT(
        [&] { verifyEnvelope(GetParam().envelope(payload, signature), GetParam().key(developmentPublicKey())); },
        ThrowsMessage<UPSError>(encodingError));
}

const auto unchanged = [](const std::string& payload, const std::string& signature) {
    return envelopeOf(payload, signature);
};

INSTANTIATE_TEST_SUITE_P(
    Base64, EncodingError,
    testing::Values(
        EncodingCase{"PayloadLineBreak", [](auto p, auto s) { return envelopeOf(p.insert(4, "\n"), s); }},
        EncodingCase{"PayloadTrailingSpace", [](auto p, auto s) { return envelopeOf(p + " ", s); }},
        EncodingCase{"PayloadWithoutPadding", [](auto p, auto s) { return envelopeOf(p.substr(0, p.size() - 2), s); }},
        EncodingCase{"PayloadUrlAlphabet", [](auto p, auto s) { return envelopeOf("-_" + p.substr(2), s); }},
        EncodingCase{"SignatureLineBreak", [](auto p, auto s) { return envelopeOf(p, s.insert(8, "\r\n")); }},
        EncodingCase{"SignatureNotBase64", [](auto p, auto) { return envelopeOf(p, "!!!!"); }}),
    [](const auto& testCase) { return testCase.param.name; });

INSTANTIATE_TEST_SUITE_P(Key, EncodingError,
                         testing::Values(EncodingCase{"Short62", unchanged, [](auto k) { return k.substr(0, 62); }},
                                         EncodingCase{"Long66", unchanged, [](auto k) { return k + "00"; }},
                                         EncodingCase{"Odd63", unchanged, [](auto k) { return k.substr(0, 63); }},
                                         EncodingCase{"NotHex", unchanged, [](auto k) { return "zz" + k.substr(2); }},
                                         EncodingCase{"SignedHexPair", unchanged,
                                                      [](auto k) { return "+f" + k.substr(2); }},
                                         EncodingCase{"Empty", unchanged, [](auto) { return std::string(); }}),
                         [](const auto& testCase) { return testCase.param.name; });

// Decoding failures are the JSON library's own errors, unchanged.
TEST(Verify, EnvelopeDecodingErrorsAreTheDecoders) {
    EXPECT_THROW(verifyEnvelope("not json"), json::parse_error);
    EXPECT_THROW(verifyEnvelope(""), json::parse_error);
    EXPECT_THROW(verifyEnvelope(R"(["payload", "signature"])"), json::type_error);
    EXPECT_THROW(verifyEnvelope(R"({"payload": "e30="})"), json::out_of_range);
    EXPECT_THROW(verifyEnvelope(R"({"payload": 5, "signature": "AAAA"})"), json::type_error);
    EXPECT_THROW(verifyEnvelope(R"({"payload": "e30=", "signature": null})"), json::type_error);
}

class PayloadDecodingError : public testing::TestWithParam<std::pair<std::string, std::string>> {};
TEST_P(PayloadDecodingError, IsTheDecodersError) {
    const auto& [text, kind] = GetParam();
    try {
        verifyEnvelope(signedEnvelope(text));
        FAIL() << "accepted " << text;
    } catch (const json::exception& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find("[json.exception." + kind), std::string::npos) << what;
    } catch (const std::exception& error) {
        FAIL() << "not a decoder error: " << error.what();
    }
}
const std::string rest =
    R"("kind": "monitor", "version": "1.0.0", "url": "https://h/x", "sha256": ")" + std::string(emptyDigest) + R"(")";
INSTANTIATE_TEST_SUITE_P(Feed, PayloadDecodingError,
                         testing::Values(std::pair{"not json", "parse_error"}, std::pair{"[]", "type_error"},
                                         std::pair{R"({"packages": []})", "out_of_range"},
                                         std::pair{R"({"schema": "1", "packages": []})", "type_error"},
                                         std::pair{R"({"schema": 1.0, "packages": []})", "type_error"},
                                         std::pair{R"({"schema": true, "packages": []})", "type_error"},
                                         std::pair{R"({"schema": 1})", "out_of_range"},
                                         std::pair{R"({"schema": 1, "packages": {}})", "type_error"},
                                         std::pair{R"({"schema": 1, "packages": [7]})", "type_error"},
                                         // Invalid UTF-8 inside a string.
                                         std::pair{"{\"schema\": 1, \"packages\": [], \"x\": \"\xff\"}",
                                                   "parse_error"}));
INSTANTIATE_TEST_SUITE_P(
    Package, PayloadDecodingError,
    testing::Values(
        std::pair{
            R"({"schema": 1, "packages": [{"version": "1.0.0", "url": "https://h/x", "size": 1, "sha256": "x"}]})",
            "out_of_range"},
        std::pair{R"({"schema": 1, "packages": [{)" + rest + R"(}]})", "out_of_range"},
        std::pair{R"({"schema": 1, "packages": [{"size": "10", )" + rest + "}]}", "type_error"},
        std::pair{R"({"schema": 1, "packages": [{"size": 10.0, )" + rest + "}]}", "type_error"},
        std::pair{R"({"schema": 1, "packages": [{"size": 18446744073709551615, )" + rest + "}]}", "out_of_range"},
        std::pair{R"({"schema": 1, "packages": [{"size": 1, "hardware": [1], )" + rest + "}]}", "type_error"},
        std::pair{R"({"schema": 1, "packages": [{"size": 1, "hardware": "1.2", )" + rest + "}]}", "type_error"},
        std::pair{R"({"schema": 1, "packages": [{"size": 1, "platform": 1, )" + rest + "}]}", "type_error"},
        // Chunks that are not examined must still have their type.
        std::pair{R"({"schema": 1, "packages": [{"size": 1, "transport": "korvan-contents", "chunks": 5, )" + rest +
                      "}]}",
                  "type_error"},
        std::pair{R"({"schema": 1, "packages": [{"size": 1, "chunks": [{"url": "https://h/1", "size": 1}], )" + rest +
                      "}]}",
                  "out_of_range"}));

TEST(Verify, RequiresSchemaOne) {
    for (const int schema : {0, 2, -1}) {
        auto feed = feedOf({});
        feed["schema"] = schema;
        EXPECT_THAT([&] { verifyFeed(feed); }, ThrowsUPSError("不支持的更新清单版本")) << schema;
    }
}

// One package entry changed from a valid client package, and what the whole feed's check says.
struct PackageCase {
    const char* name;
    std::function<void(json& package)> change;
    const char* message; // nullptr: accepted
};
class PackageRule : public testing::TestWithParam<PackageCase> {};

TEST_P(PackageRule, DecidesForTheWholeFeed) {
    auto package = clientPackage();
    GetParam().change(package);
    // A valid package before it must not save the feed.
    const auto feed = feedOf({firmwarePackage(), package});
    if (GetParam().message) {
        EXPECT_THAT([&] { verifyFeed(feed); }, ThrowsUPSError(GetParam().message));
    } else {
        EXPECT_NO_THROW(verifyFeed(feed));
    }
}

json chunks(int count, int size) {
    json out = json::array();
    for (int i = 0; i < count; ++i) {
        out.push_back({{"url", "https://h.example/c" + std::to_string(i)}, {"size", size}, {"sha256", emptyDigest}});
    }
    return out;
}

auto rawChunks(int count, int size, std::function<void(json&)> changeChunk = {}) {
    return [=](json& package) {
        package["transport"] = "raw-chunks";
        package["chunks"] = chunks(count, size);
        package["size"] = count * size;
        if (changeChunk) {
            changeChunk(package["chunks"][count - 1]);
        }
    };
}

INSTANTIATE_TEST_SUITE_P(
    Package, PackageRule,
    testing::Values(
        PackageCase{"Valid", [](json&) {}, nullptr},
        PackageCase{"LargestSize", [](json& p) { p["size"] = 104857600; }, nullptr},
        PackageCase{"SizeZero", [](json& p) { p["size"] = 0; }, "更新包信息无效"},
        PackageCase{"SizeNegative", [](json& p) { p["size"] = -1; }, "更新包信息无效"},
        PackageCase{"SizeOverLimit", [](json& p) { p["size"] = 104857601; }, "更新包信息无效"},
        PackageCase{"DigestUpperCase", [](json& p) { p["sha256"] = std::string(64, 'A'); }, "更新包信息无效"},
        PackageCase{"DigestShort", [](json& p) { p["sha256"] = std::string(63, 'a'); }, "更新包信息无效"},
        PackageCase{"DigestNotHex", [](json& p) { p["sha256"] = std::string(64, 'g'); }, "更新包信息无效"},
        PackageCase{"PlainHTTP", [](json& p) { p["url"] = "http://h.example/c.zip"; }, "更新包信息无效"},
        PackageCase{"SchemeUpperCase", [](json& p) { p["url"] = "HTTPS://h.example/c.zip"; }, "更新包信息无效"},
        PackageCase{"NoScheme", [](json& p) { p["url"] = "h.example/c.zip"; }, "更新包信息无效"},
        PackageCase{"NoHost", [](json& p) { p["url"] = "https:///c.zip"; }, "更新包信息无效"},
        PackageCase{"Space", [](json& p) { p["url"] = "https://h.example/a b.zip"; }, "更新包信息无效"},
        PackageCase{"VersionTwoParts", [](json& p) { p["version"] = "1.2"; }, "版本号无效：1.2"},
        PackageCase{"VersionFirst",
                    [](json& p) {
                        p["version"] = "v2";
                        p["size"] = 0;
                    },
                    "版本号无效：v2"},
        PackageCase{"InfoBeforeTransport",
                    [](json& p) {
                        p["transport"] = "ftp";
                        p["size"] = 0;
                    },
                    "更新包信息无效"}),
    [](const auto& testCase) { return testCase.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Transport, PackageRule,
    testing::Values(PackageCase{"KorvanWithoutChunks", [](json& p) { p["transport"] = "korvan-contents"; }, nullptr},
                    PackageCase{"KorvanIgnoresChunkRules",
                                [](json& p) {
                                    p["transport"] = "korvan-contents";
                                    p["chunks"] = chunks(201, 0);
                                },
                                nullptr},
                    PackageCase{"NullIsAbsent", [](json& p) { p["transport"] = nullptr; }, nullptr},
                    PackageCase{"CapitalRawChunks", [](json& p) { p["transport"] = "RAW-CHUNKS"; }, "不支持的下载方式"},
                    PackageCase{"Empty", [](json& p) { p["transport"] = ""; }, "不支持的下载方式"},
                    PackageCase{"Unknown", [](json& p) { p["transport"] = "torrent"; }, "不支持的下载方式"}),
    [](const auto& testCase) { return testCase.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Chunks, PackageRule,
    testing::Values(PackageCase{"OneChunk", rawChunks(1, 1000), nullptr},
                    PackageCase{"TwoHundredChunks", rawChunks(200, 3), nullptr},
                    PackageCase{"LargestChunk", rawChunks(2, 1048576), nullptr},
                    PackageCase{"Missing", [](json& p) { p["transport"] = "raw-chunks"; }, "更新分块数量无效"},
                    PackageCase{"NullChunks",
                                [](json& p) {
                                    p["transport"] = "raw-chunks";
                                    p["chunks"] = nullptr;
                                },
                                "更新分块数量无效"},
                    PackageCase{"EmptyList",
                                [](json& p) {
                                    p["transport"] = "raw-chunks";
                                    p["chunks"] = json::array();
                                },
                                "更新分块数量无效"},
                    PackageCase{"TooMany", rawChunks(201, 1), "更新分块数量无效"},
                    PackageCase{"ChunkOverLimit", rawChunks(2, 1048577), "更新分块信息无效"},
                    PackageCase{"ChunkEmpty", rawChunks(2, 1, [](json& c) { c["size"] = 0; }), "更新分块信息无效"},
                    PackageCase{"ChunkDigestUpperCase",
                                rawChunks(2, 1, [](json& c) { c["sha256"] = std::string(64, 'F'); }),
                                "更新分块信息无效"},
                    PackageCase{"ChunkPlainHTTP", rawChunks(2, 1, [](json& c) { c["url"] = "http://h.example/c"; }),
                                "更新分块信息无效"},
                    PackageCase{"SumOneShort",
                                [](json& p) {
                                    rawChunks(3, 10)(p);
                                    p["size"] = 31;
                                },
                                "更新分块总长度不符"},
                    PackageCase{"SumOneOver",
                                [](json& p) {
                                    rawChunks(3, 10)(p);
                                    p["size"] = 29;
                                },
                                "更新分块总长度不符"}),
    [](const auto& testCase) { return testCase.param.name; });

TEST(Verify, FirstBadPackageDecides) {
    auto badSize = clientPackage();
    badSize["size"] = 0;
    EXPECT_THAT(
        [&] {
            verifyFeed(feedOf({clientPackage(), badSize, firmwarePackage("1.2")}));
        },
        ThrowsUPSError("更新包信息无效"));
    EXPECT_THAT([&] { verifyFeed(feedOf({firmwarePackage("1.2"), badSize})); }, ThrowsUPSError("版本号无效：1.2"));
}

TEST(UpdatePackage, IdNamesKindPlatformOrModelAndVersion) {
    EXPECT_EQ(clientPackage("1.4.0").get<UpdatePackage>().id(),
              "monitor-" + std::string(SignedUpdates::platform) + "-1.4.0");
    EXPECT_EQ(firmwarePackage("1.0.9").get<UpdatePackage>().id(), "firmware-Quelmar DC UPS-1.0.9");
    auto both = firmwarePackage();
    both["platform"] = "linux";
    EXPECT_EQ(both.get<UpdatePackage>().id(), "firmware-linux-1.0.9");
    auto neither = clientPackage("3.0.0");
    neither.erase("platform");
    EXPECT_EQ(neither.get<UpdatePackage>().id(), "monitor--3.0.0");
}

TEST(SignedUpdates, ClientPackagesNameThePlatformBuilt) {
#if defined(__linux__)
    EXPECT_EQ(SignedUpdates::platform, "linux");
#elif defined(__APPLE__)
    EXPECT_EQ(SignedUpdates::platform, "darwin");
#endif
}

namespace {

std::optional<std::string> newer(const std::vector<json>& packages, const std::string& current) {
    const auto update = SignedUpdates::newerNative(feedOf(packages).get<UpdateFeed>(), current);
    return update ? std::optional<std::string>(update->id() + " " + update->url) : std::nullopt;
}

json with(json package, const std::string& key, const json& value) {
    if (value.is_null()) {
        package.erase(key);
    } else {
        package[key] = value;
    }
    return package;
}

} // namespace

TEST(NewerNative, OffersTheNewestClientForThisPlatform) {
    const auto c = [](const std::string& v) { return clientPackage(v); };
    const std::string platform(SignedUpdates::platform);
    EXPECT_EQ(newer({c("2.0.2"), c("2.1.0"), c("2.0.9")}, "2.0.1"),
              "monitor-" + platform + "-2.1.0 https://downloads.example.org/Quelmar_Monitor-2.1.0.zip");
    // Numeric order, and leading zeros mean nothing.
    EXPECT_EQ(newer({c("2.10.0"), c("2.9.0")}, "2.0.1"),
              "monitor-" + platform + "-2.10.0 https://downloads.example.org/Quelmar_Monitor-2.10.0.zip");
    EXPECT_EQ(newer({c("2.0.1"), c("2.0.0"), c("02.0.01")}, "2.0.1"), std::nullopt);
    EXPECT_EQ(newer({}, "2.0.1"), std::nullopt);
}

TEST(NewerNative, FirstListedWinsAmongEqualVersions) {
    auto second = clientPackage("3.0.0");
    second["url"] = "https://mirror.example/second.zip";
    auto first = clientPackage("03.0.0");
    EXPECT_EQ(newer({clientPackage("2.5.0"), first, second}, "2.0.1"),
              "monitor-" + std::string(SignedUpdates::platform) +
                  "-03.0.0 https://downloads.example.org/Quelmar_Monitor-03.0.0.zip");
}

TEST(NewerNative, TakesOnlyNativeMonitorPackagesOfThisPlatformExactly) {
    const auto c = clientPackage("9.0.0");
    const std::string other = SignedUpdates::platform == "darwin" ? "linux" : "darwin";
    for (const auto& package :
         {with(c, "implementation", nullptr), with(c, "implementation", "Native"), with(c, "implementation", "qt"),
          with(c, "platform", nullptr), with(c, "platform", other), with(c, "platform", "Linux"),
          with(c, "kind", "firmware"), with(c, "kind", "Monitor"), firmwarePackage("9.0.0")}) {
        EXPECT_EQ(newer({package}, "2.0.1"), std::nullopt) << package.dump();
    }
}

TEST(NewerNative, ThrowsForAVersionThatDoesNotParse) {
    EXPECT_THAT([] { newer({clientPackage()}, "2.0"); }, ThrowsMessage<UPSError>("版本号无效：2.0"));
    EXPECT_THAT([] { newer({clientPackage("3.0")}, "2.0.1"); }, ThrowsMessage<UPSError>("版本号无效：3.0"));
}

// The envelope as other JSON writers may lay it out: the same meaning, the same result.
TEST(Verify, ReadsAnyLayoutOfTheEnvelope) {
    const std::string text = feedOf({clientPackage()}).dump();
    const auto envelope = envelopeJSON(text);
    const auto payload = envelope["payload"].get<std::string>();
    auto signature = envelope["signature"].get<std::string>();
    std::string escaped; // "/" written as "\/", as some writers do
    for (const char c : signature) {
        escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    for (const auto& layout : {
             "{\"signature\": \"" + signature + "\", \"payload\": \"" + payload + "\"}",
             " \r\n\t{ \"payload\" :\"" + payload + "\" ,\n\"signature\":\"" + signature + "\" }\n ",
             "{\"payload\": \"" + payload + "\", \"signature\": \"" + escaped + "\"}",
             "{\"payload\": \"" + payload + "\", \"comment\": [1, {\"x\": null}], \"signature\": \"" + signature +
                 "\"}",
             "\xEF\xBB\xBF{\"payload\": \"" + payload + "\", \"signature\": \"" + signature + "\"}",
             // The library keeps the last of repeated members.
             "{\"payload\": \"AAAA\", \"payload\": \"" + payload + "\", \"signature\": \"" + signature + "\"}",
         }) {
        EXPECT_EQ(verifyEnvelope(layout).packages.size(), 1u) << layout.substr(0, 80);
    }
    EXPECT_THROW(verifyEnvelope("{\"payload\": \"" + payload + "\", \"signature\": \"" + signature + "\"} x"),
                 json::parse_error);
    EXPECT_THROW(verifyEnvelope("{\"payload\": \"" + payload + "\", \"signature\": \"" + signature + "\""),
                 json::parse_error);
}

// The records follow the decoder's document: the last of repeated members counts, integers take the
// whole signed 64-bit range, and unknown members are skipped whatever they hold.
TEST(DecodeFeed, FollowsTheDocument) {
    const std::string package = R"({"size": 3, "size": 9223372036854775807, "kind": "monitor", "version": "1.0.0", )"
                                R"("url": "https://h/x", "sha256": "", "other": {"chunks": 5}})";
    const auto feed = json::parse(R"({"schema": 1, "schema": -5, "x": [{}, null, 1.5], "packages": [)" + package + "]}")
                          .get<UpdateFeed>();
    EXPECT_EQ(feed.schema, -5);
    ASSERT_EQ(feed.packages.size(), 1u);
    EXPECT_EQ(feed.packages[0].size, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(feed.packages[0].chunks, std::nullopt);
}
