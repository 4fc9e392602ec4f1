#include "BundleFixtures.h"
#include "Matchers.h"
#include "core/UPSError.h"
#include "install/SealedBundle.h"

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

class Sealed : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(bundle / "Contents/bin");
        fs::create_directories(bundle / "Contents/Resources/Empty");
        writeFile(bundle / "Contents/Info.plist", infoPlist(clientInfo("2.1.0")));
        writeFile(bundle / "Contents/bin/quelmar", "#!/bin/sh\nexit 0\n");
        fs::permissions(bundle / "Contents/bin/quelmar", fs::perms(0755));
        writeFile(bundle / "Contents/Resources/a b.txt", "text");
        writeFile(bundle / "Contents/Resources/empty", "");
        sealBundle(bundle);
    }
    void verify(const TestKey& key = TestKey::development()) { SealedBundle::verify(bundle, key.publicKey()); }

    TemporaryDirectory dir;
    const fs::path bundle = dir / "Quelmar_Monitor.app";
};

struct Tampering {
    std::string name;
    std::function<void(const fs::path& bundle, const fs::path& outside)> change;
    std::string reason; // after "seal 失败："; BUNDLE stands for the bundle's path
};

void PrintTo(const Tampering& tampering, std::ostream* out) {
    *out << tampering.name;
}

class TamperedBundle : public Sealed, public testing::WithParamInterface<Tampering> {};

std::string byName(const testing::TestParamInfo<Tampering>& info) {
    return info.param.name;
}

void replaceText(const fs::path& path, const std::string& text) {
    writeFile(path, text);
}

} // namespace

TEST_F(Sealed, VerifiesAsSealed) {
    EXPECT_NO_THROW(verify());
    EXPECT_NO_THROW(SealedBundle::items(bundle));
    // Sealing again after a change seals the new contents.
    writeFile(bundle / "Contents/Resources/new", "n");
    sealBundle(bundle);
    EXPECT_NO_THROW(verify());
}

TEST_F(Sealed, AnotherKeyIsRefused) {
    EXPECT_THAT([&] { verify(TestKey(7)); },
                ThrowsUPSError("seal 失败：the signature does not match the publisher key this client trusts"));
}

TEST_F(Sealed, SealingRefusesWhatInstallingWouldChange) {
    ::chmod((bundle / "Contents/bin/quelmar").c_str(), 04755);
    EXPECT_THAT(
        [&] { sealBundle(bundle); },
        ThrowsUPSError("seal 失败：setuid, setgid or sticky bits, which installing removes: Contents/bin/quelmar"));
    ::chmod((bundle / "Contents/bin/quelmar").c_str(), 0755);
    fs::create_symlink("bin/quelmar", bundle / "Contents/link");
    EXPECT_THAT([&] { sealBundle(bundle); },
                ThrowsUPSError("seal 失败：a link is not allowed in the bundle: Contents/link"));
}

TEST_P(TamperedBundle, IsRefused) {
    TemporaryDirectory outside;
    GetParam().change(bundle, outside.path());
    std::string reason = GetParam().reason;
    if (const auto at = reason.find("BUNDLE"); at != std::string::npos) {
        reason.replace(at, 6, bundle.string());
    }
    EXPECT_THAT([&] { verify(); }, ThrowsUPSError("seal 失败：" + reason));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, TamperedBundle, testing::Values(
    Tampering{"SameSizeNewContent", [](auto& b, auto&) { replaceText(b / "Contents/Resources/a b.txt", "TEXT"); },
              "the sealed file Contents/Resources/a b.txt was changed"},
    Tampering{"Appended", [](auto& b, auto&) { replaceText(b / "Contents/Resources/empty", "x"); },
              "the sealed file Contents/Resources/empty was changed"},
    Tampering{"ModeChanged", [](auto& b, auto&) { fs::permissions(b / "Contents/bin/quelmar", fs::perms(0700)); },
              "the sealed file Contents/bin/quelmar was changed"},
    Tampering{"SetuidAdded", [](auto& b, auto&) { ::chmod((b / "Contents/bin/quelmar").c_str(), 04755); },
              "the sealed file Contents/bin/quelmar was changed"},
    Tampering{"Removed", [](auto& b, auto&) { fs::remove(b / "Contents/Info.plist"); },
              "a sealed file Contents/Info.plist is missing"},
    Tampering{"EmptyDirectoryRemoved", [](auto& b, auto&) { fs::remove(b / "Contents/Resources/Empty"); },
              "a sealed directory Contents/Resources/Empty is missing"},
    Tampering{"FileAdded", [](auto& b, auto&) { replaceText(b / "Contents/bin/plugin.so", ""); },
              "an unsealed file Contents/bin/plugin.so was added"},
    Tampering{"DirectoryAdded", [](auto& b, auto&) { fs::create_directory(b / "Contents/Plugins"); },
              "an unsealed directory Contents/Plugins was added"},
    Tampering{"FileBecameDirectory", [](auto& b, auto&) {
                  fs::remove(b / "Contents/Resources/empty");
                  fs::create_directory(b / "Contents/Resources/empty"); },
              "the sealed file Contents/Resources/empty was changed"}), byName);

INSTANTIATE_TEST_SUITE_P(Links, TamperedBundle, testing::Values(
    Tampering{"FileReplacedBySymlink", [](auto& b, auto& o) {
                  fs::copy_file(b / "Contents/Resources/a b.txt", o / "copy");
                  fs::remove(b / "Contents/Resources/a b.txt");
                  fs::create_symlink(o / "copy", b / "Contents/Resources/a b.txt"); },
              "a link is not allowed in the bundle: Contents/Resources/a b.txt"},
    Tampering{"DanglingSymlinkAdded", [](auto& b, auto&) { fs::create_symlink("/nowhere", b / "Contents/x"); },
              "a link is not allowed in the bundle: Contents/x"},
    Tampering{"HardLinkFromOutside", [](auto& b, auto& o) { fs::create_hard_link(b / "Contents/bin/quelmar", o / "q"); },
              "a link is not allowed in the bundle: Contents/bin/quelmar"},
    Tampering{"DirectoryReplacedBySymlink", [](auto& b, auto& o) {
                  fs::copy(b / "Contents", o / "Contents", fs::copy_options::recursive);
                  fs::remove_all(b / "Contents");
                  fs::create_symlink(o / "Contents", b / "Contents"); },
              "a link is not allowed in the bundle: Contents"},
    Tampering{"Fifo", [](auto& b, auto&) { ::mkfifo((b / "Contents/fifo").c_str(), 0644); },
              "a special file is not allowed in the bundle: Contents/fifo"}), byName);

INSTANTIATE_TEST_SUITE_P(Manifest, TamperedBundle, testing::Values(
    Tampering{"Removed", [](auto& b, auto&) { fs::remove(b / "Contents/Seal"); }, "the bundle is not sealed: BUNDLE"},
    Tampering{"ReplacedBySymlink", [](auto& b, auto& o) {
                  fs::copy_file(b / "Contents/Seal", o / "Seal");
                  fs::remove(b / "Contents/Seal");
                  fs::create_symlink(o / "Seal", b / "Contents/Seal"); },
              "the manifest is not a plain file: Contents/Seal"},
    Tampering{"ReplacedByDirectory", [](auto& b, auto&) {
                  fs::remove(b / "Contents/Seal");
                  fs::create_directory(b / "Contents/Seal"); },
              "the manifest is not a plain file: Contents/Seal"},
    Tampering{"Truncated", [](auto& b, auto&) {
                  const auto text = readFile(b / "Contents/Seal");
                  replaceText(b / "Contents/Seal", text.substr(0, text.size() - 10)); },
              "the seal has no signature"},
    Tampering{"ResealedByAnotherKey", [](auto& b, auto&) { sealBundle(b, TestKey(9)); },
              "the signature does not match the publisher key this client trusts"}), byName);
// clang-format on

TEST_F(Sealed, TheBundleItselfMustBeADirectory) {
    TemporaryDirectory other;
    const auto link = other / "Quelmar_Monitor.app";
    fs::create_directory_symlink(bundle, link);
    EXPECT_THAT([&] { SealedBundle::verify(link, TestKey::development().publicKey()); },
                ThrowsUPSError("seal 失败：the bundle is a link: " + link.string()));
    EXPECT_THAT([&] { SealedBundle::verify(other / "missing.app", TestKey::development().publicKey()); },
                ThrowsUPSError("seal 失败：the bundle is not a directory: " + (other / "missing.app").string()));
}
