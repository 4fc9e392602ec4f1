#include "BundleFixtures.h"
#include "Matchers.h"
#include "Process.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "install/NativeInstaller.h"
#include "install/PropertyList.h"
#include "tools/BundlePacking.h"

#include <regex>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

const std::string mismatch = "更新包的应用标识、原生类型或版本不符";

// The executable inside test bundles; its contents do not matter here.
fs::path someExecutable() {
    return "/bin/true";
}

std::vector<fs::path> stagingDirectories(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".quelmar-native-update-")) {
            out.push_back(entry.path());
        }
    }
    return out;
}

class Validation : public testing::Test {
protected:
    void bundleWith(const std::string& plist) {
        makeBundle(app, clientInfo("2.1.0"), someExecutable());
        writeFile(app / "Contents/Info.plist", plist);
        sealBundle(app);
    }
    void validate(const std::string& version = "2.1.0") {
        NativeInstaller::validateWith(app, version, TestKey::development().publicKey());
    }
    TemporaryDirectory dir;
    const fs::path app = dir / "Quelmar_Monitor.app";
};

std::map<std::string, std::string> with(std::map<std::string, std::string> info, const std::string& key,
                                        const std::optional<std::string>& value) {
    if (value) {
        info[key] = *value;
    } else {
        info.erase(key);
    }
    return info;
}

} // namespace

TEST_F(Validation, AcceptsTheDeclaredIdentityAndASealedBundle) {
    bundleWith(infoPlist(clientInfo("2.1.0")));
    EXPECT_NO_THROW(validate());
}

TEST_F(Validation, RefusesAnyOtherIdentityVersionOrImplementation) {
    const auto good = clientInfo("2.1.0");
    // clang-format off
    const std::vector<std::string> plists = {
        infoPlist(with(good, "CFBundleIdentifier", "net.quelmar.other")),
        infoPlist(with(good, "CFBundleIdentifier", std::nullopt)),
        infoPlist(with(good, "CFBundleShortVersionString", "2.1")),      // text, not a version comparison
        infoPlist(with(good, "CFBundleShortVersionString", "2.1.0 ")),
        infoPlist(with(good, "CFBundleShortVersionString", std::nullopt)),
        infoPlist(with(good, "QuelmarImplementation", "electron")),
        infoPlist(with(good, "QuelmarImplementation", std::nullopt)),
        // A version that is not text.
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>net.quelmar.monitor</string>"
        "<key>CFBundleShortVersionString</key><real>2.1</real>"
        "<key>QuelmarImplementation</key><string>native</string></dict></plist>",
        // Not a dictionary.
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>net.quelmar.monitor</string></array></plist>",
    };
    // clang-format on
    for (const auto& plist : plists) {
        bundleWith(plist);
        EXPECT_THAT([&] { validate(); }, ThrowsUPSError(mismatch)) << plist;
    }
}

TEST_F(Validation, ReadsBinaryPropertyLists) {
    bundleWith("");
    const auto converted =
        runProcess("/usr/bin/python3", {"-c",
                                        "import plistlib, sys\n"
                                        "open(sys.argv[1], 'wb').write(plistlib.dumps({'CFBundleIdentifier': "
                                        "'net.quelmar.monitor', 'CFBundleShortVersionString': '2.1.0', "
                                        "'QuelmarImplementation': 'native', 'CFBundleExecutable': 'quelmar'}, "
                                        "fmt=plistlib.FMT_BINARY))",
                                        (app / "Contents/Info.plist").string()});
    ASSERT_EQ(converted.status, 0) << converted.err;
    sealBundle(app);
    EXPECT_NO_THROW(validate());
    EXPECT_THAT([&] { validate("2.1.1"); }, ThrowsUPSError(mismatch));
}

TEST_F(Validation, ReadAndParseErrorsPassThrough) {
    bundleWith("not a property list");
    EXPECT_THROW(validate(), PropertyListError);
    fs::remove(app / "Contents/Info.plist");
    EXPECT_THROW(validate(), std::system_error);
}

TEST_F(Validation, TheSealIsCheckedAfterThePropertyList) {
    bundleWith(infoPlist(clientInfo("2.1.0")));
    writeFile(app / "Contents/extra", "");
    EXPECT_THAT([&] { validate("2.0.0"); }, ThrowsUPSError(mismatch));
    EXPECT_THAT([&] { validate(); }, ThrowsUPSError("seal 失败：an unsealed file Contents/extra was added"));
}

namespace {

class Staging : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(apps);
        makeBundle(target, clientInfo("2.0.1"), someExecutable());
        makeBundle(build / "Quelmar_Monitor.app", clientInfo("2.1.0"), someExecutable());
    }
    fs::path package(const std::function<void(const fs::path&)>& afterSealing = {}) {
        const auto bundle = build / "Quelmar_Monitor.app";
        sealBundle(bundle);
        if (afterSealing) {
            afterSealing(bundle);
        }
        const auto archive = build / "update.zip";
        publish::pack(bundle, archive);
        return archive;
    }
    TemporaryDirectory dir;
    const fs::path apps = dir / "Applications";
    const fs::path build = dir / "build";
    const fs::path target = apps / "Quelmar_Monitor.app";
};

} // namespace

TEST_F(Staging, UnpacksBesideTheTargetIntoAPrivateDirectory) {
    const auto staged = NativeInstaller::prepare(package(), target, "2.1.0");
    EXPECT_EQ(staged.target, target);
    EXPECT_EQ(staged.version, "2.1.0");
    EXPECT_EQ(staged.stage.parent_path(), apps);
    EXPECT_TRUE(std::regex_match(
        staged.stage.filename().string(),
        std::regex(R"(\.quelmar-native-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12})")))
        << staged.stage;
    struct stat status {};
    ASSERT_EQ(::stat(staged.stage.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_TRUE(fs::is_regular_file(staged.stage / "Quelmar_Monitor.app/Contents/Seal"));
    EXPECT_EQ(readFile(target / "Contents/Info.plist"), infoPlist(clientInfo("2.0.1")));

    // Each stage is new, and the target may be named relatively or with a trailing slash.
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    const auto again = NativeInstaller::prepare(build / "update.zip", "Applications/Quelmar_Monitor.app/", "2.1.0");
    fs::current_path(cwd);
    EXPECT_EQ(again.target, target);
    EXPECT_EQ(again.stage.parent_path(), apps);
    EXPECT_NE(again.stage, staged.stage);
}

TEST_F(Staging, AFailedValidationRemovesTheStage) {
    const auto archive = package();
    EXPECT_THAT([&] { NativeInstaller::prepare(archive, target, "2.1"); }, ThrowsUPSError(mismatch));
    EXPECT_THAT(stagingDirectories(apps), testing::IsEmpty());
}

TEST_F(Staging, AFileChangedAfterSealingIsRefused) {
    const auto archive = package([](const fs::path& bundle) {
        writeFile(bundle / "Contents/Info.plist", infoPlist(clientInfo("2.1.0")) + " ");
    });
    EXPECT_THAT([&] { NativeInstaller::prepare(archive, target, "2.1.0"); },
                ThrowsUPSError("seal 失败：the sealed file Contents/Info.plist was changed"));
    EXPECT_THAT(stagingDirectories(apps), testing::IsEmpty());
}

TEST_F(Staging, ArchivesAreCheckedBeforeAnythingIsCreated) {
    const auto large = dir / "large.zip";
    writeFile(large, "");
    fs::resize_file(large, SignedUpdates::maxPackage + 1);
    EXPECT_THAT([&] { NativeInstaller::prepare(large, target, "2.1.0"); }, ThrowsUPSError("更新包过大"));
    // The limit itself is allowed; these zeros are no ZIP.
    fs::resize_file(large, SignedUpdates::maxPackage);
    EXPECT_THAT([&] { NativeInstaller::prepare(large, target, "2.1.0"); }, ThrowsUPSError("ZIP 缺少结束记录"));
    EXPECT_THROW(NativeInstaller::prepare(dir / "missing.zip", target, "2.1.0"), std::system_error);
    EXPECT_THAT(stagingDirectories(apps), testing::IsEmpty());
    // A target whose folder does not exist gets no stage either.
    EXPECT_THROW(NativeInstaller::prepare(package(), dir / "none/Quelmar_Monitor.app", "2.1.0"), std::system_error);
}

// libplist asserts on a text or key holding a NUL byte when it is read as a C string: the process ended (134)
// before the seal was checked and left its stage behind.
TEST_F(Staging, ATextOrKeyHoldingANulIsAWrongIdentity) {
    const auto bundle = build / "Quelmar_Monitor.app";
    std::string xml = infoPlist(clientInfo("2.1.0"));
    xml.replace(xml.find(".monitor<"), 8, std::string(".monitor\0", 9));
    // Binary property lists, whose UTF-16 texts and keys can hold a NUL.
    const auto binary = runProcess("/usr/bin/python3", {"-c",
                                                        "import plistlib, sys\n"
                                                        "def write(name, key, version):\n"
                                                        "    open(name, 'wb').write(plistlib.dumps({"
                                                        "key: 'net.quelmar.monitor', "
                                                        "'CFBundleShortVersionString': version, "
                                                        "'QuelmarImplementation': 'native'}, "
                                                        "fmt=plistlib.FMT_BINARY))\n"
                                                        "write(sys.argv[1], 'CFBundleIdentifier', '2.1.0\\0\\u00e9')\n"
                                                        "write(sys.argv[2], 'CFBundleIdentifier\\0\\u00e9', '2.1.0')\n",
                                                        (dir / "text.plist").string(), (dir / "key.plist").string()});
    ASSERT_EQ(binary.status, 0) << binary.err;
    for (const auto& plist : {xml, readFile(dir / "text.plist"), readFile(dir / "key.plist")}) {
        writeFile(bundle / "Contents/Info.plist", plist);
        const auto staged = runProcess(QUELMAR_EXECUTABLE, {"--stage-update", package().string(), "2.1.0", target});
        EXPECT_EQ(staged.status, 1) << staged.err;
        EXPECT_EQ(staged.out, mismatch + "\n");
        EXPECT_THAT(stagingDirectories(apps), testing::IsEmpty());
    }
    // Only that member is left out.
    writeFile(dir / "mixed.plist", "<plist><dict><key>a</key><string>x" + std::string(1, '\0') +
                                       "y</string><key>b</key><string>z</string></dict></plist>");
    const auto info = PropertyList::read(dir / "mixed.plist");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->text, (std::map<std::string, std::string>{{"b", "z"}}));
}

// libplist reads binary nesting recursively: 100,000 arrays, each holding the next, overflowed the stack (139).
TEST_F(Staging, ADeeplyNestedBinaryPropertyListIsRefused) {
    const auto plist = build / "Quelmar_Monitor.app/Contents/Info.plist";
    const auto nested = runProcess("/usr/bin/python3", {"-c",
                                                        "import struct, sys\n"
                                                        "n = 100000\n"
                                                        "objects = [b'\\xa1' + struct.pack('>I', i + 1) for i in "
                                                        "range(n)] + [b'\\xa0']\n"
                                                        "data = b'bplist00'\n"
                                                        "offsets = []\n"
                                                        "for o in objects:\n"
                                                        "    offsets.append(len(data))\n"
                                                        "    data += o\n"
                                                        "table = len(data)\n"
                                                        "data += b''.join(struct.pack('>I', o) for o in offsets)\n"
                                                        "data += bytes(6) + bytes([4, 4]) + "
                                                        "struct.pack('>QQQ', n + 1, 0, table)\n"
                                                        "open(sys.argv[1], 'wb').write(data)\n",
                                                        plist.string()});
    ASSERT_EQ(nested.status, 0) << nested.err;
    const auto staged = runProcess(QUELMAR_EXECUTABLE, {"--stage-update", package().string(), "2.1.0", target});
    EXPECT_EQ(staged.status, 1) << staged.err;
    EXPECT_THAT(staged.out,
                testing::EndsWith("/Quelmar_Monitor.app/Contents/Info.plist: the data is not a property list\n"));
    EXPECT_THAT(stagingDirectories(apps), testing::IsEmpty());
}

TEST(CurrentTarget, RefusesDownloadAndDiskImageLocations) {
    const std::string moveFirst = "请先将应用移到可写的应用目录，例如 ~/Applications，再更新";
    for (const std::string path :
         {"/private/var/folders/x/AppTranslocation/ABC/d/Quelmar_Monitor.app", "/Volumes/Quelmar/Quelmar_Monitor.app",
          "/opt/quelmar", "/opt/Quelmar_Monitor.app.bak"}) {
        EXPECT_THAT([&] { NativeInstaller::checkedTarget(path); }, ThrowsUPSError(moveFirst)) << path;
    }
    // The test program itself lies in no bundle.
    EXPECT_THAT([] { NativeInstaller::currentTarget(); }, ThrowsUPSError(moveFirst));

    TemporaryDirectory dir;
    const auto bundle = dir / "Quelmar_Monitor.app";
    fs::create_directory(bundle);
    EXPECT_EQ(NativeInstaller::checkedTarget(bundle), bundle);
    // A client outside a bundle under /usr came from a package.
    const std::string packaged = "安装在 /usr 中的应用不会自行更新，请通过软件包管理器更新";
    for (const std::string path : {"/usr/bin", "/usr/local/bin", "/usr"}) {
        EXPECT_THAT([&] { NativeInstaller::checkedTarget(path); }, ThrowsUPSError(packaged)) << path;
    }
    EXPECT_THAT([] { NativeInstaller::checkedTarget("/usrlocal/bin"); }, ThrowsUPSError(moveFirst));
    EXPECT_THAT([&] { NativeInstaller::checkedTarget(dir / "missing.app"); },
                ThrowsUPSError("应用目录不可写，请移到 ~/Applications 后重试"));
    if (::geteuid() != 0) {
        fs::permissions(dir.path(), fs::perms(0555));
        EXPECT_THAT([&] { NativeInstaller::checkedTarget(bundle); },
                    ThrowsUPSError("应用目录不可写，请移到 ~/Applications 后重试"));
        fs::permissions(dir.path(), fs::perms(0755));
    }
}
