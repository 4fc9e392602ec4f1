#include "HexFixtures.h"
#include "Matchers.h"
#include "Process.h"
#include "ZipBuilder.h"
#include "core/CRC32.h"
#include "core/NativeZip.h"
#include "core/UPSError.h"
#include "install/ZipExtraction.h"

#include <functional>
#include <map>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

const std::string mismatch = "ZIP 本地路径或大小不符";
const std::string unsafePath = "ZIP 路径不安全或重复";

ByteView view(const std::string& text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

ZipEntry file(std::string name, std::string data, std::uint32_t mode = 0100644) {
    const auto crc = CRC32::compute(view(data));
    return ZipEntry(std::move(name), std::move(data)).crc32(crc).attributes(mode << 16);
}

ZipEntry folder(std::string name, std::uint32_t mode = 040755) {
    return ZipEntry(std::move(name), "").attributes(mode << 16);
}

// The Info-ZIP Unicode Path extra field: it names the entry for readers that honour it.
std::string unicodePath(const std::string& headerName, const std::string& name) {
    std::string field = "\x75\x70";
    const auto size = static_cast<std::uint16_t>(5 + name.size());
    field += static_cast<char>(size & 0xFF);
    field += static_cast<char>(size >> 8);
    field += '\x01'; // version
    const auto crc = CRC32::compute(view(headerName));
    for (int i = 0; i < 4; ++i) {
        field += static_cast<char>((crc >> (8 * i)) & 0xFF);
    }
    return field + name;
}

// Every path below root: type, permission bits and content.
using Tree = std::map<std::string, std::tuple<char, unsigned, std::string>>;
Tree snapshot(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat status {};
        ::lstat(entry.path().c_str(), &status);
        const char type = S_ISDIR(status.st_mode) ? 'd' : S_ISREG(status.st_mode) ? 'f' : '?';
        tree[entry.path().lexically_relative(root).string()] = {type, status.st_mode & 07777,
                                                                type == 'f' ? readFile(entry.path()) : ""};
    }
    return tree;
}

void extract(const Bytes& archive, const fs::path& destination) {
    ZipExtraction::extract(archive, NativeZip::entries(archive), destination);
}

class Extraction : public testing::Test {
protected:
    TemporaryDirectory stage;
};

} // namespace

TEST_F(Extraction, KeepsPermissionBitsButNeverSpecialOnes) {
    // clang-format off
    const auto archive = ZipBuilder()
        .add(folder("Quelmar_Monitor.app/"))
        .add(folder("Quelmar_Monitor.app/Contents/", 040750))
        .add(file("Quelmar_Monitor.app/Contents/tool", "#!/bin/sh\n", 0104755))   // setuid
        .add(file("Quelmar_Monitor.app/Contents/group", "g", 0102750))           // setgid
        .add(file("Quelmar_Monitor.app/Contents/private", "p", 0100600))
        .add(folder("Quelmar_Monitor.app/Contents/shared/", 041777))          // sticky
        .add(file("Quelmar_Monitor.app/Contents/shared/中文.txt", "文字"))
        .build();
    // clang-format on
    extract(archive, stage.path());
    const Tree expected = {
        {"Quelmar_Monitor.app", {'d', 0755, ""}},
        {"Quelmar_Monitor.app/Contents", {'d', 0750, ""}},
        {"Quelmar_Monitor.app/Contents/tool", {'f', 0755, "#!/bin/sh\n"}},
        {"Quelmar_Monitor.app/Contents/group", {'f', 0750, "g"}},
        {"Quelmar_Monitor.app/Contents/private", {'f', 0600, "p"}},
        {"Quelmar_Monitor.app/Contents/shared", {'d', 0777, ""}},
        {"Quelmar_Monitor.app/Contents/shared/中文.txt", {'f', 0644, "文字"}},
    };
    EXPECT_EQ(snapshot(stage.path()), expected);
}

struct Archiver {
    std::string name;
    std::vector<std::string> command; // the archive's path is added last
};
void PrintTo(const Archiver& archiver, std::ostream* out) {
    *out << archiver.name;
}

class RealArchiver : public testing::TestWithParam<Archiver> {};
TEST_P(RealArchiver, UnpacksToTheSameTree) {
    TemporaryDirectory source, stage;
    const auto bundle = source / "Quelmar_Monitor.app";
    fs::create_directories(bundle / "Contents/bin");
    fs::create_directories(bundle / "Contents/Resources/Empty");
    writeFile(bundle / "Contents/bin/quelmar", std::string(200000, 'q'));
    writeFile(bundle / "Contents/Resources/中文.txt", "文字");
    writeFile(bundle / "Contents/Resources/empty", "");
    ::chmod((bundle / "Contents/bin/quelmar").c_str(), 0755);
    ::chmod((bundle / "Contents/Resources").c_str(), 0750);
    ::chmod((bundle / "Contents/Resources/empty").c_str(), 0600);

    auto command = GetParam().command;
    const auto archivePath = source / "update.zip";
    command.push_back(archivePath.string());
    const std::string tool = command.front();
    command.erase(command.begin());
    ProcessOptions options;
    options.workingDirectory = source.path().string();
    options.setEnv["LANG"] = "C.UTF-8";
    const auto made = runProcess(tool, command, options);
    ASSERT_EQ(made.status, 0) << made.out << made.err;

    const auto bytes = readFile(archivePath);
    extract(Bytes(bytes.begin(), bytes.end()), stage.path());
    auto expected = snapshot(source.path());
    expected.erase("update.zip");
    EXPECT_EQ(snapshot(stage.path()), expected);
}
INSTANTIATE_TEST_SUITE_P(
    Tools, RealArchiver,
    testing::Values(Archiver{"InfoZip", {"/bin/sh", "-c", "zip -q -r \"$0\" Quelmar_Monitor.app"}},
                    Archiver{"Bsdtar", {"/bin/sh", "-c", "bsdtar --format zip -cf \"$0\" Quelmar_Monitor.app"}},
                    Archiver{"PythonZipfile",
                             {"/usr/bin/python3", "-c",
                              "import os, sys, zipfile\n"
                              "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                              "    for root, dirs, files in os.walk('Quelmar_Monitor.app'):\n"
                              "        z.write(root)\n"
                              "        for name in files:\n"
                              "            z.write(os.path.join(root, name))\n"}}),
    [](const testing::TestParamInfo<Archiver>& archiver) { return archiver.param.name; });

TEST_F(Extraction, AUnicodePathFieldCannotRenameAnEntry) {
    TemporaryDirectory outside;
    const std::string name = "Quelmar_Monitor.app/a";
    for (const std::string& renamed :
         {std::string("Quelmar_Monitor.app/b"), "../" + outside.path().filename().string() + "/x"}) {
        TemporaryDirectory target;
        const auto local = ZipBuilder().add(file(name, "data").localExtra(unicodePath(name, renamed))).build();
        EXPECT_THAT([&] { extract(local, target.path()); }, ThrowsUPSError(mismatch)) << renamed;
        EXPECT_TRUE(fs::is_empty(target.path()));
        // libarchive takes names from the local header, so a field in the central record changes nothing.
        const auto central = ZipBuilder().add(file(name, "data").centralExtra(unicodePath(name, renamed))).build();
        extract(central, target.path());
        EXPECT_EQ(snapshot(target.path()),
                  (Tree{{"Quelmar_Monitor.app", {'d', 0755, ""}}, {name, {'f', 0644, "data"}}}));
    }
    EXPECT_TRUE(fs::is_empty(outside.path()));
}

TEST_F(Extraction, AWarningIsAFailure) {
    const auto badCRC = ZipBuilder().add(file("Quelmar_Monitor.app/a", "data").crc32(0x12345678)).build();
    EXPECT_THAT([&] { extract(badCRC, stage.path()); },
                ThrowsUPSErrorThat(StartsWith("libarchive 失败：Quelmar_Monitor.app/a: ")));
}

TEST_F(Extraction, DataMustHaveTheDeclaredSize) {
    for (const std::uint32_t declared : {3u, 5u}) {
        TemporaryDirectory target;
        const auto archive = ZipBuilder().add(file("Quelmar_Monitor.app/a", "data").uncompressedSize(declared)).build();
        EXPECT_THROW(extract(archive, target.path()), UPSError) << declared;
    }
}

// The unpacker's view is checked against the validated records, whatever libarchive makes of the bytes.
TEST_F(Extraction, EveryEntryMustMatchItsRecord) {
    const auto archive = ZipBuilder()
                             .add(folder("Quelmar_Monitor.app/"))
                             .add(file("Quelmar_Monitor.app/a", "data"))
                             .add(file("Quelmar_Monitor.app/b", "bee"))
                             .build();
    const auto records = NativeZip::entries(archive);
    const std::vector<std::function<void(std::vector<NativeZip::Entry>&)>> changes = {
        [](auto& r) { r.erase(r.begin() + 1); },                      // an entry without a record
        [](auto& r) { r.push_back(r[1]), r.back().name += "x"; },     // a record the unpacker never sees
        [](auto& r) { r[1].name = "Quelmar_Monitor.app/A"; },         // other name bytes
        [](auto& r) { r[1].type = NativeZip::EntryType::directory; }, // other type
        [](auto& r) { r[0].type = NativeZip::EntryType::regular; },
        [](auto& r) { r[2].uncompressedSize = 4; }, // other size
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        TemporaryDirectory target;
        auto changed = records;
        changes[i](changed);
        EXPECT_THAT([&] { ZipExtraction::extract(archive, changed, target.path()); }, ThrowsUPSError(mismatch))
            << "change " << i;
    }
}

TEST_F(Extraction, NothingIsOverwritten) {
    fs::create_directories(stage / "Quelmar_Monitor.app");
    writeFile(stage / "Quelmar_Monitor.app/a", "old");
    const auto archive = ZipBuilder().add(file("Quelmar_Monitor.app/a", "new")).build();
    EXPECT_THAT([&] { extract(archive, stage.path()); }, ThrowsUPSError(unsafePath));
    EXPECT_EQ(readFile(stage / "Quelmar_Monitor.app/a"), "old");
}

TEST_F(Extraction, LinksInTheDestinationAreNotFollowed) {
    TemporaryDirectory outside;
    fs::create_directory_symlink(outside.path(), stage / "Quelmar_Monitor.app");
    const auto withDirectory =
        ZipBuilder().add(folder("Quelmar_Monitor.app/")).add(file("Quelmar_Monitor.app/a", "x")).build();
    EXPECT_THAT([&] { extract(withDirectory, stage.path()); }, ThrowsUPSError(unsafePath));
    const auto fileOnly = ZipBuilder().add(file("Quelmar_Monitor.app/a", "x")).build();
    EXPECT_THAT([&] { extract(fileOnly, stage.path()); },
                ThrowsUPSErrorThat(StartsWith("libarchive 失败：Quelmar_Monitor.app/a: ")));
    EXPECT_TRUE(fs::is_empty(outside.path()));
}

TEST_F(Extraction, ResourceForksAreCheckedButNotWritten) {
    const auto archive = ZipBuilder()
                             .add(file("Quelmar_Monitor.app/a", "x"))
                             .add(folder("__MACOSX/"))
                             .add(file("__MACOSX/._a", "fork"))
                             .build();
    extract(archive, stage.path());
    EXPECT_EQ(snapshot(stage.path()),
              (Tree{{"Quelmar_Monitor.app", {'d', 0755, ""}}, {"Quelmar_Monitor.app/a", {'f', 0644, "x"}}}));
    const auto badFork = ZipBuilder().add(file("__MACOSX/._a", "fork").crc32(1)).build();
    TemporaryDirectory other;
    EXPECT_THROW(extract(badFork, other.path()), UPSError);
}
