#include "BuildConfig.h"
#include "HttpsServer.h"
#include "Process.h"
#include "SignedFeeds.h"
#include "core/Base64.h"
#include "core/SignedUpdates.h"
#include "install/AppMetadata.h"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using nlohmann::json;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

// Feeds signed by the publisher tool with the development key, checked by the client.
class CheckFeed : public testing::Test {
protected:
    void SetUp() override {
        if (!BuildConfig::trustsDevelopmentKey) {
            GTEST_SKIP() << "this build trusts another key than the development key";
        }
    }

    fs::path write(const std::string& name, const std::string& text) const {
        const auto path = directory.path() / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // The envelope file that quelmar-publish makes of this feed text.
    fs::path sign(const std::string& feed, bool allowInvalid = false) const {
        const auto source = write("feed.json", feed);
        const auto envelope = directory.path() / "stable.json";
        std::vector<std::string> arguments = {"sign-feed", "--key",           QUELMAR_DEVELOPMENT_KEY,
                                              "--output",  envelope.string(), source.string()};
        if (allowInvalid) {
            arguments.push_back("--allow-invalid");
        }
        const auto result = runProcess(QUELMAR_PUBLISH, arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        return envelope;
    }

    static ProcessResult check(const fs::path& envelope) {
        return runProcess(QUELMAR_EXECUTABLE, {"--check-feed", envelope.string()});
    }

    TemporaryDirectory directory;
};

void expectLine(const ProcessResult& result, int status, const std::string& line) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, line + "\n");
    EXPECT_EQ(result.err, "");
}

} // namespace

TEST_F(CheckFeed, CountsPackagesAndNamesNoUpdateWhenNoneIsNewer) {
    const auto envelope = sign(feedOf({clientPackage(AppMetadata::version()), firmwarePackage()}).dump(2));
    expectLine(check(envelope), 0, "Signature verified; packages=2; native update=none");
}

TEST_F(CheckFeed, NamesTheNewestClientForThisPlatform) {
    auto otherPlatform = clientPackage("99.0.0");
    otherPlatform["platform"] = "plan9";
    const auto feed =
        feedOf({clientPackage("2.7.1"), otherPlatform, clientPackage("2.10.0"), firmwarePackage("9.9.9")});
    expectLine(check(sign(feed.dump())), 0, "Signature verified; packages=4; native update=2.10.0");
    expectLine(check(sign(feedOf({}).dump())), 0, "Signature verified; packages=0; native update=none");
}

TEST_F(CheckFeed, RejectsAOneByteChangeOfThePayload) {
    const auto envelope = sign(feedOf({clientPackage("2.7.1")}).dump(2));
    std::ifstream in(envelope);
    auto members = json::parse(in);
    auto payload = *decodeBase64(members["payload"].get<std::string>());
    payload[payload.size() / 2] ^= 0x20;
    members["payload"] = encodeBase64(payload);
    const auto tampered = write("tampered.json", members.dump());
    expectLine(check(tampered), 1, "更新清单签名无效，已拒绝更新");
}

TEST_F(CheckFeed, RejectsAFeedSignedWithAnotherKey) {
    const auto result = runProcess(QUELMAR_PUBLISH, {"keygen", (directory.path() / "other").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto source = write("feed.json", feedOf({}).dump());
    const auto envelope =
        runProcess(QUELMAR_PUBLISH, {"sign-feed", "--key", (directory.path() / "other.key").string(), source.string()});
    ASSERT_EQ(envelope.status, 0) << envelope.err;
    expectLine(check(write("stable.json", envelope.out)), 1, "更新清单签名无效，已拒绝更新");
}

TEST_F(CheckFeed, PrintsTheFeedsOwnMessages) {
    auto feed = feedOf({clientPackage()});
    feed["schema"] = 2;
    expectLine(check(sign(feed.dump(), true)), 1, "不支持的更新清单版本");

    auto package = firmwarePackage();
    package["url"] = "http://downloads.example.org/firmware.hex";
    expectLine(check(sign(feedOf({clientPackage(), package}).dump(), true)), 1, "更新包信息无效");
}

TEST_F(CheckFeed, PrintsDecoderAndFileErrorsAlone) {
    const auto notJSON = check(write("stable.json", "<html>"));
    EXPECT_EQ(notJSON.status, 1);
    EXPECT_THAT(notJSON.out, StartsWith("[json.exception.parse_error"));
    EXPECT_EQ(notJSON.err, "");

    const auto missing = check(directory.path() / "missing.json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.out, testing::HasSubstr("No such file or directory"));
    EXPECT_EQ(lines(missing.out).size(), 1u);
    EXPECT_EQ(missing.err, "");
}

TEST_F(CheckFeed, RefusesFilesLargerThanAClientFetches) {
    expectLine(check(write("big.json", std::string(SignedUpdates::maxFeed + 1, ' '))), 1, "更新清单过大");
    expectLine(check("/dev/zero"), 1, "更新清单过大"); // would never end if read whole
    // Exactly the limit is read and judged on its content.
    const auto atLimit = check(write("limit.json", std::string(SignedUpdates::maxFeed, ' ')));
    EXPECT_THAT(atLimit.out, StartsWith("[json.exception.parse_error"));
}

TEST_F(CheckFeed, TakesThePathAfterTheFirstOccurrence) {
    const auto envelope = sign(feedOf({}).dump());
    const auto result = runProcess(QUELMAR_EXECUTABLE, {"x", "--check-feed", envelope.string(), "--check-feed", "y"});
    expectLine(result, 0, "Signature verified; packages=0; native update=none");
}

TEST(Version, SaysWhichUpdateKeyTheBuildTrusts) {
    const auto result = runProcess(QUELMAR_EXECUTABLE, {"--version"});
    ASSERT_EQ(result.status, 0);
    const auto output = lines(result.out);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0], "Quelmar " + AppMetadata::version());
    if (BuildConfig::trustsDevelopmentKey) {
        EXPECT_THAT(output[1], StartsWith("This build trusts the development update key"));
    } else {
        EXPECT_EQ(output[1], std::string("Update feed key: ") + BuildConfig::publicKey);
    }
}
