#include "BundleFixtures.h"
#include "Process.h"
#include "core/NativeZip.h"
#include "core/SignedUpdates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

class PublishBundle : public testing::Test {
protected:
    void SetUp() override {
        makeBundle(bundle, clientInfo("2.1.0"), "/bin/true");
        fs::create_directories(bundle / "Contents/Resources/Empty");
        writeFile(bundle / "Contents/Resources/notes.txt", "notes");
    }
    ProcessResult publish(const std::vector<std::string>& arguments) { return runProcess(QUELMAR_PUBLISH, arguments); }
    ProcessResult pack(const fs::path& archive) {
        return publish(
            {"pack", "--public-key", TestKey::development().publicKeyHex(), bundle.string(), archive.string()});
    }

    TemporaryDirectory dir;
    const fs::path bundle = dir / "Quelmar_Monitor.app";
};

Bytes bytesOf(const fs::path& path) {
    const auto text = readFile(path);
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST_F(PublishBundle, PacksTheSealedBundleUnderItsTopLevelFolder) {
    sealWithTool(bundle);
    const auto result = pack(dir / "a.zip");
    ASSERT_EQ(result.status, 0) << result.err;
    const auto archive = bytesOf(dir / "a.zip");
    EXPECT_EQ(result.out, "size=" + std::to_string(archive.size()) + " sha256=" + SignedUpdates::hash(archive) + "\n");

    std::vector<std::string> names;
    for (const auto& entry : NativeZip::entries(archive)) {
        names.push_back(entry.name + (entry.type == NativeZip::EntryType::directory ? " d" : " f") + " " +
                        std::to_string(entry.mode & 0777));
    }
    EXPECT_THAT(names, ElementsAre("Quelmar_Monitor.app/ d 493", "Quelmar_Monitor.app/Contents/ d 493",
                                   "Quelmar_Monitor.app/Contents/Info.plist f 420",
                                   "Quelmar_Monitor.app/Contents/Resources/ d 493",
                                   "Quelmar_Monitor.app/Contents/Resources/Empty/ d 493",
                                   "Quelmar_Monitor.app/Contents/Resources/notes.txt f 420",
                                   "Quelmar_Monitor.app/Contents/Seal f 420", "Quelmar_Monitor.app/Contents/bin/ d 493",
                                   "Quelmar_Monitor.app/Contents/bin/quelmar f 493"));

    // The same bundle packs to the same bytes, so a feed entry can be checked by packing again.
    ASSERT_EQ(pack(dir / "b.zip").status, 0);
    EXPECT_EQ(bytesOf(dir / "b.zip"), archive);
}

TEST_F(PublishBundle, RefusesToPackWhatClientsWouldRefuse) {
    auto result = pack(dir / "a.zip");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("seal 失败：the bundle is not sealed"));

    sealWithTool(bundle);
    writeFile(bundle / "Contents/Resources/notes.txt", "NOTES");
    result = pack(dir / "a.zip");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("seal 失败：the sealed file Contents/Resources/notes.txt was changed"));

    sealWithTool(bundle);
    result = publish({"pack", "--public-key", TestKey(5).publicKeyHex(), bundle.string(), (dir / "a.zip").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("seal 失败：the signature does not match"));
    EXPECT_FALSE(fs::exists(dir / "a.zip"));
}

TEST_F(PublishBundle, SealsOnlyWithThePrivateHalfOfTheGivenKey) {
    const auto result = publish(
        {"seal", "--key", developmentKeyFile().string(), "--public-key", TestKey(5).publicKeyHex(), bundle.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("is not the private half of " + TestKey(5).publicKeyHex()));
    EXPECT_FALSE(fs::exists(bundle / "Contents/Seal"));

    EXPECT_EQ(publish({"seal", bundle.string()}).status, 2);
    EXPECT_EQ(publish({"seal", "--key", developmentKeyFile().string(), "--public-key", "xyz", bundle.string()}).status,
              2);
}
