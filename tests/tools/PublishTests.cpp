#include "HttpsServer.h"
#include "Process.h"
#include "core/Base64.h"
#include "core/Hex.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "tools/SigningKey.h"

#include <fstream>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quelmar;
using namespace quelmar::test;
using nlohmann::json;
using testing::HasSubstr;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

ProcessResult runTool(const std::vector<std::string>& arguments) {
    return runProcess(QUELMAR_PUBLISH, arguments);
}

const std::regex keyLine("[0-9a-f]{64}\n");

class Publish : public testing::Test {
protected:
    fs::path path(const std::string& name) const { return directory.path() / name; }
    TemporaryDirectory directory;
};

} // namespace

TEST(DevelopmentKey, PublicHalfBelongsToThePrivateHalf) {
    const auto seed = readText(QUELMAR_DEVELOPMENT_KEY);
    const auto publicKey = readText(QUELMAR_DEVELOPMENT_PUBLIC_KEY);
    EXPECT_TRUE(std::regex_match(seed, keyLine));
    EXPECT_TRUE(std::regex_match(publicKey, keyLine));
    EXPECT_EQ(publish::SigningKey::read(QUELMAR_DEVELOPMENT_KEY).publicKeyHex() + "\n", publicKey);
}

TEST_F(Publish, KeygenWritesAPairInTheKeyFileFormat) {
    const auto result = runTool({"keygen", path("release").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto seed = readText(path("release.key"));
    const auto publicKey = readText(path("release.pub"));
    EXPECT_TRUE(std::regex_match(seed, keyLine));
    EXPECT_TRUE(std::regex_match(publicKey, keyLine));
    EXPECT_EQ(result.out, publicKey);
    EXPECT_EQ(publish::SigningKey::read(path("release.key")).publicKeyHex() + "\n", publicKey);

    struct stat status {};
    ASSERT_EQ(::stat(path("release.key").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // Never replaced, and nothing half written.
    const auto again = runTool({"keygen", path("release").string()});
    EXPECT_EQ(again.status, 1);
    EXPECT_THAT(again.err, HasSubstr("exists"));
    EXPECT_EQ(readText(path("release.key")), seed);
    writeText(path("other.pub"), "x");
    EXPECT_EQ(runTool({"keygen", path("other").string()}).status, 1);
    EXPECT_FALSE(fs::exists(path("other.key")));

    // Two pairs are never the same.
    ASSERT_EQ(runTool({"keygen", path("second").string()}).status, 0);
    EXPECT_NE(readText(path("second.key")), seed);
}

TEST_F(Publish, SignFeedSignsTheExactBytesOfTheFile) {
    ASSERT_EQ(runTool({"keygen", path("k").string()}).status, 0);
    // Odd spacing and a byte-order mark: the signature covers the file as it is.
    const std::string feed = "\xEF\xBB\xBF{ \"schema\" : 1,\r\n\t\"packages\": [] }\n\n";
    writeText(path("feed.json"), feed);
    const auto result = runTool({"sign-feed", "--key", path("k.key").string(), path("feed.json").string()});
    ASSERT_EQ(result.status, 0) << result.err;

    const auto envelope = json::parse(result.out);
    EXPECT_EQ(envelope.size(), 2u);
    const auto payload = decodeBase64(envelope["payload"].get<std::string>());
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(std::string(payload->begin(), payload->end()), feed);
    EXPECT_EQ(decodeBase64(envelope["signature"].get<std::string>())->size(), 64u);

    const auto publicKey = readText(path("k.pub")).substr(0, 64);
    const Bytes bytes(result.out.begin(), result.out.end());
    EXPECT_EQ(SignedUpdates::verify(bytes, publicKey).schema, 1);

    // Ed25519 is deterministic: the same file and key give the same envelope.
    const auto output = path("stable.json");
    ASSERT_EQ(
        runTool({"sign-feed", "--output", output.string(), "--key", path("k.key").string(), path("feed.json").string()})
            .status,
        0);
    EXPECT_EQ(readText(output), result.out);
}

TEST_F(Publish, SignFeedRefusesAFeedClientsWouldRefuse) {
    ASSERT_EQ(runTool({"keygen", path("k").string()}).status, 0);
    writeText(path("feed.json"), R"({"schema": 1, "packages": [{"kind": "monitor", "version": "1.2"}]})");
    const auto output = path("stable.json");
    const auto refused = runTool(
        {"sign-feed", "--key", path("k.key").string(), "--output", output.string(), path("feed.json").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("clients would refuse this feed"));
    EXPECT_FALSE(fs::exists(output));

    const auto forced = runTool({"sign-feed", "--allow-invalid", "--key", path("k.key").string(), "--output",
                                 output.string(), path("feed.json").string()});
    EXPECT_EQ(forced.status, 0) << forced.err;
    const auto text = readText(output);
    EXPECT_THROW(SignedUpdates::verify(Bytes(text.begin(), text.end()), readText(path("k.pub")).substr(0, 64)),
                 json::exception);
}

TEST_F(Publish, ReportsBadKeysAndCommandLines) {
    writeText(path("feed.json"), R"({"schema": 1, "packages": []})");
    writeText(path("bad.key"), "not a key\n");
    const auto badKey = runTool({"sign-feed", "--key", path("bad.key").string(), path("feed.json").string()});
    EXPECT_EQ(badKey.status, 1);
    EXPECT_THAT(badKey.err, HasSubstr("not a private key"));
    const auto missing = runTool({"sign-feed", "--key", path("none.key").string(), path("feed.json").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("No such file or directory"));
    // Reads stop at what a key or a feed can hold: an endless file is refused, not read to its end.
    const auto endlessKey = runTool({"sign-feed", "--key", "/dev/zero", path("feed.json").string()});
    EXPECT_EQ(endlessKey.status, 1);
    EXPECT_THAT(endlessKey.err, HasSubstr("not a private key"));
    ASSERT_EQ(runTool({"keygen", path("k").string()}).status, 0);
    const auto endlessFeed = runTool({"sign-feed", "--key", path("k.key").string(), "/dev/zero"});
    EXPECT_EQ(endlessFeed.status, 1);
    EXPECT_THAT(endlessFeed.err, HasSubstr("larger than any feed a client fetches"));

    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"unknown"},
                                               {"sign-feed", path("feed.json").string()},
                                               {"sign-feed", "--key"},
                                               {"sign-feed", "--key", "k", "--colour", "f"},
                                               {"keygen"},
                                               {"keygen", "a", "b"}}) {
        const auto result = runTool(arguments);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(arguments);
        EXPECT_THAT(result.err, HasSubstr("Usage: quelmar-publish"));
        EXPECT_EQ(result.out, "");
    }
}

TEST(PublishHelp, ListsEveryCommand) {
    const auto help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, StartsWith("Usage: quelmar-publish COMMAND"));
    EXPECT_THAT(help.out, HasSubstr("keygen NAME"));
    EXPECT_THAT(help.out, HasSubstr("sign-feed --key KEY"));
    const auto command = runTool({"sign-feed", "--help"});
    EXPECT_EQ(command.status, 0);
    EXPECT_THAT(command.out, StartsWith("Usage: quelmar-publish sign-feed"));
}
