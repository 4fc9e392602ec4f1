#include "core/BundleSeal.h"
#include "core/UPSError.h"

#include <array>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sodium.h>

using namespace quelmar;
using testing::ThrowsMessage;

namespace {

class TestKey {
public:
    explicit TestKey(std::uint8_t fill) {
        EXPECT_GE(sodium_init(), 0);
        std::array<std::uint8_t, 32> seed{};
        seed.fill(fill);
        crypto_sign_seed_keypair(publicKey.data(), secretKey_.data(), seed.data());
    }
    Bytes sign(std::string_view message) const {
        Bytes signature(crypto_sign_BYTES);
        crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const std::uint8_t*>(message.data()),
                             message.size(), secretKey_.data());
        return signature;
    }
    std::string manifest(std::string_view body) const { return BundleSeal::manifest(body, sign(body)); }

    std::array<std::uint8_t, 32> publicKey{};

private:
    std::array<std::uint8_t, 64> secretKey_{};
};

const TestKey publisher(1);
const TestKey stranger(2);

ByteView view(const std::string& text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

BundleSeal::Item dir(std::string path) {
    return {std::move(path), true, 0, 0, {}};
}

BundleSeal::Item file(std::string path, std::uint32_t mode = 0644, std::uint64_t size = 3, std::uint8_t digest = 0xAB) {
    BundleSeal::Item item{std::move(path), false, mode, size, {}};
    item.sha256.fill(digest);
    return item;
}

std::string failure(const std::string& reason) {
    return "seal 失败：" + reason;
}

// 0xAB repeated, as file() fills the digest.
std::string repeatAB() {
    std::string out;
    for (int i = 0; i < 32; ++i) {
        out += "ab";
    }
    return out;
}
const std::string abab = repeatAB();

} // namespace

TEST(BundleSeal, BodyListsItemsInPathOrder) {
    const auto body = BundleSeal::body({file("Contents/bin/quelmar", 0755, 12), dir("Contents/bin"), dir("Contents"),
                                        file("Contents/Info.plist", 0644, 0, 0x00), file("Contents/a b", 0600, 7)});
    EXPECT_EQ(body, "quelmar-seal 1\n"
                    "d Contents\n"
                    "f 0644 0 " +
                        std::string(64, '0') +
                        " Contents/Info.plist\n"
                        "f 0600 7 " +
                        abab +
                        " Contents/a b\n"
                        "d Contents/bin\n"
                        "f 0755 12 " +
                        abab + " Contents/bin/quelmar\n");
}

TEST(BundleSeal, OpenReturnsTheSealedItems) {
    const std::vector<BundleSeal::Item> items = {dir("Contents"), file("Contents/Info.plist"), dir("Contents/bin"),
                                                 file("Contents/bin/quelmar", 0755, 14557656, 0x3C),
                                                 file("Contents/bin/\u4e2d\u6587", 0, 0)};
    EXPECT_EQ(BundleSeal::open(view(publisher.manifest(BundleSeal::body(items))), publisher.publicKey), items);
    EXPECT_TRUE(BundleSeal::open(view(publisher.manifest(BundleSeal::body({}))), publisher.publicKey).empty());
}

class UnsealablePath : public testing::TestWithParam<std::string> {};
TEST_P(UnsealablePath, IsRefused) {
    EXPECT_THAT([] { BundleSeal::body({file(GetParam())}); },
                ThrowsMessage<UPSError>(failure("a path the seal cannot hold: " + GetParam())));
}
// Paths that would name a place outside the bundle, two places, or break the line format.
INSTANTIATE_TEST_SUITE_P(Paths, UnsealablePath,
                         testing::Values("", "/Contents", "Contents/", "Contents//x", "./Contents", "Contents/..",
                                         "Contents/../../etc", "Contents/a\nf 0644 1 x", "Contents/a\r",
                                         "Contents/tab\t", "Contents\\x", "Contents/\x7f", "Contents/Seal",
                                         "Contents/\xff\xfe", "Contents/\xc0\xaf"));

TEST(BundleSeal, BodyRefusesDuplicatesAndSpecialBits) {
    EXPECT_THAT(
        [] {
            BundleSeal::body({file("Contents/x"), dir("Contents/x")});
        },
        ThrowsMessage<UPSError>(failure("a path listed twice: Contents/x")));
    for (const std::uint32_t mode : {04755u, 02755u, 01755u}) {
        EXPECT_THAT(
            [&] { BundleSeal::body({file("Contents/x", mode)}); },
            ThrowsMessage<UPSError>(failure("setuid, setgid or sticky bits, which installing removes: Contents/x")));
    }
}

TEST(BundleSeal, SignatureMustBeThePublishers) {
    const auto body = BundleSeal::body({dir("Contents"), file("Contents/x")});
    const std::string badSignature = failure("the signature does not match the publisher key this client trusts");
    EXPECT_THAT([&] { BundleSeal::open(view(stranger.manifest(body)), publisher.publicKey); },
                ThrowsMessage<UPSError>(badSignature));

    // Any changed byte of the signed part: the size 3 becomes 4.
    std::string changed = publisher.manifest(body);
    changed[changed.find(" 3 ") + 1] = '4';
    EXPECT_THAT([&] { BundleSeal::open(view(changed), publisher.publicKey); }, ThrowsMessage<UPSError>(badSignature));

    const std::string noSignature = failure("the seal has no signature");
    const std::string good = publisher.manifest(body);
    const std::string upperCase = body + "signature " + std::string(128, 'A') + "\n";
    for (const std::string& manifest : {body, good.substr(0, good.size() - 1), good.substr(0, good.size() - 3) + "\n",
                                        good + "d Contents/y\n", upperCase, std::string()}) {
        EXPECT_THAT([&] { BundleSeal::open(view(manifest), publisher.publicKey); },
                    ThrowsMessage<UPSError>(noSignature))
            << manifest;
    }
    EXPECT_THAT([&] { BundleSeal::open(view(good), ByteView(publisher.publicKey).first(31)); },
                ThrowsMessage<UPSError>(noSignature));
}

struct MalformedCase {
    std::string body;
    int line;
};
class MalformedManifest : public testing::TestWithParam<MalformedCase> {};
TEST_P(MalformedManifest, IsRefusedEvenWhenSigned) {
    EXPECT_THAT(
        [] { BundleSeal::open(view(publisher.manifest(GetParam().body)), publisher.publicKey); },
        ThrowsMessage<UPSError>(failure("the manifest is malformed at line " + std::to_string(GetParam().line))));
}
INSTANTIATE_TEST_SUITE_P(
    Lines, MalformedManifest,
    testing::Values(MalformedCase{"quelmar-seal 2\nd Contents\n", 1}, MalformedCase{"d Contents\n", 1},
                    MalformedCase{"quelmar-seal 1\nx Contents\n", 2}, MalformedCase{"quelmar-seal 1\nd\n", 2},
                    MalformedCase{"quelmar-seal 1\nd Contents\nd Contents\n", 3},
                    MalformedCase{"quelmar-seal 1\nd Contents/b\nd Contents/a\n", 3},
                    MalformedCase{"quelmar-seal 1\nd Contents/../x\n", 2},
                    MalformedCase{"quelmar-seal 1\nd Contents\r\n", 2},
                    // Permission bits: four octal digits, the first 0.
                    MalformedCase{"quelmar-seal 1\nf 755 3 " + abab + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 4755 3 " + abab + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0758 3 " + abab + " Contents/x\n", 2},
                    // Sizes: decimal, no leading zero, within 64 bits.
                    MalformedCase{"quelmar-seal 1\nf 0644 03 " + abab + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0644 -3 " + abab + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0644 18446744073709551616 " + abab + " Contents/x\n", 2},
                    // Digests: 64 lower-case hex digits.
                    MalformedCase{"quelmar-seal 1\nf 0644 3 " + std::string(64, 'A') + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0644 3 " + abab.substr(2) + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0644 3  " + abab + " Contents/x\n", 2},
                    MalformedCase{"quelmar-seal 1\nf 0644 3 " + abab + "\n", 2}));

TEST(BundleSeal, CompareNamesTheFirstDifference) {
    const std::vector<BundleSeal::Item> sealed = {dir("Contents"), file("Contents/a"), file("Contents/b", 0755)};
    EXPECT_NO_THROW(BundleSeal::compare(sealed, sealed));

    const auto changed = [&](std::size_t index, auto change) {
        auto found = sealed;
        change(found[index]);
        return found;
    };
    EXPECT_THAT(
        [&] {
            BundleSeal::compare(sealed, {dir("Contents"), file("Contents/b", 0755)});
        },
        ThrowsMessage<UPSError>(failure("a sealed file Contents/a is missing")));
    EXPECT_THAT(
        [&] {
            BundleSeal::compare(sealed, {dir("Contents"), file("Contents/a")});
        },
        ThrowsMessage<UPSError>(failure("a sealed file Contents/b is missing")));
    EXPECT_THAT(
        [&] {
            BundleSeal::compare(sealed,
                                {dir("Contents"), file("Contents/a"), dir("Contents/a0"), file("Contents/b", 0755)});
        },
        ThrowsMessage<UPSError>(failure("an unsealed directory Contents/a0 was added")));
    EXPECT_THAT(
        [&] {
            BundleSeal::compare(sealed,
                                {dir("Contents"), file("Contents/a"), file("Contents/b", 0755), file("Contents/c")});
        },
        ThrowsMessage<UPSError>(failure("an unsealed file Contents/c was added")));
    const std::string aChanged = failure("the sealed file Contents/a was changed");
    EXPECT_THAT([&] { BundleSeal::compare(sealed, changed(1, [](auto& i) { i.mode = 0755; })); },
                ThrowsMessage<UPSError>(aChanged));
    EXPECT_THAT([&] { BundleSeal::compare(sealed, changed(1, [](auto& i) { i.size = 4; })); },
                ThrowsMessage<UPSError>(aChanged));
    EXPECT_THAT([&] { BundleSeal::compare(sealed, changed(1, [](auto& i) { i.sha256[31] ^= 1; })); },
                ThrowsMessage<UPSError>(aChanged));
    EXPECT_THAT([&] { BundleSeal::compare(sealed, changed(1, [](auto& i) { i = dir("Contents/a"); })); },
                ThrowsMessage<UPSError>(aChanged));
}
