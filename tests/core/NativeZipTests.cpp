#include "Matchers.h"
#include "Process.h"
#include "ZipBuilder.h"
#include "core/NativeZip.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::Field;
namespace fs = std::filesystem;

namespace {

const std::string tooShort = "ZIP 文件过短";
const std::string noEndRecord = "ZIP 缺少结束记录";
const std::string badDirectory = "ZIP 中央目录无效";
const std::string badEntry = "ZIP 文件条目无效";
const std::string badName = "ZIP 文件名无效";
const std::string unsafePath = "ZIP 路径不安全或重复";
const std::string badContent = "ZIP 包含链接、特殊文件或加密内容";
const std::string tooLarge = "ZIP 展开大小超过限制";
const std::string badLocal = "ZIP 本地记录无效";
const std::string localMismatch = "ZIP 本地路径或大小不符";
const std::string lengthMismatch = "ZIP 中央目录长度不符";

const std::string bundle = "Quelmar_Monitor.app/";

Bytes oneFile(std::string name) {
    return ZipBuilder().file(std::move(name)).build();
}

Bytes twoFiles(std::string first, std::string second) {
    return ZipBuilder().file(std::move(first)).file(std::move(second)).build();
}

Bytes oneEntry(ZipEntry entry) {
    return ZipBuilder().add(std::move(entry)).build();
}

// A directory and a file under the bundle: the archive most cases falsify one field of.
ZipBuilder sample() {
    return ZipBuilder().dir(bundle).file(bundle + "Contents/Info.plist", "<plist/>");
}

// Which record a patch rewrites: the end record, or the central or local header of the builder's second entry.
enum class In { end, central, local };
using Value = std::function<std::uint32_t(const ZipLayout&)>;

Bytes with(In record, std::size_t field, int width, const Value& value, const ZipBuilder& builder) {
    ZipLayout at;
    Bytes archive = builder.build(&at);
    const std::size_t base = record == In::end ? at.end : record == In::central ? at.central.at(1) : at.local.at(1);
    if (width == 2) {
        put16(archive, base + field, static_cast<std::uint16_t>(value(at)));
    } else {
        put32(archive, base + field, value(at));
    }
    return archive;
}

Bytes with16(In record, std::size_t field, std::uint16_t value, const ZipBuilder& builder = sample()) {
    return with(
        record, field, 2, [value](const ZipLayout&) { return value; }, builder);
}

Bytes with32(In record, std::size_t field, std::uint32_t value, const ZipBuilder& builder = sample()) {
    return with(
        record, field, 4, [value](const ZipLayout&) { return value; }, builder);
}

Bytes with32(In record, std::size_t field, const Value& value, const ZipBuilder& builder = sample()) {
    return with(record, field, 4, value, builder);
}

// Both entry counts of the end record.
Bytes withCount(std::uint16_t count, const ZipBuilder& builder = sample()) {
    ZipLayout at;
    Bytes archive = builder.build(&at);
    put16(archive, at.end + 8, count);
    put16(archive, at.end + 10, count);
    return archive;
}

// The declared central directory size, relative to the real one.
Bytes withDirectorySize(std::int64_t difference, const ZipBuilder& builder = sample()) {
    return with32(
        In::end, 12, [difference](const ZipLayout& at) { return static_cast<std::uint32_t>(at.cdSize + difference); },
        builder);
}

Bytes withTrailingByte(Bytes archive) {
    archive.push_back(0);
    return archive;
}

std::string endRecordText(std::uint16_t total, std::uint32_t size, std::uint32_t offset, std::uint16_t comment) {
    Bytes record(22);
    put32(record, 0, 0x06054B50);
    put16(record, 8, total);
    put16(record, 10, total);
    put32(record, 12, size);
    put32(record, 16, offset);
    put16(record, 20, comment);
    return std::string(record.begin(), record.end());
}

struct Case {
    std::string label;
    std::function<Bytes()> archive;
    std::string message; // "" when accepted
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.label;
}

class Validate : public testing::TestWithParam<Case> {};

TEST_P(Validate, GivesTheFirstViolation) {
    const Bytes archive = GetParam().archive();
    if (GetParam().message.empty()) {
        EXPECT_NO_THROW(NativeZip::validate(archive));
    } else {
        EXPECT_THAT([&] { NativeZip::validate(archive); }, ThrowsUPSError(GetParam().message));
    }
}

// clang-format off
const Bytes emptyArchive = {
    0x50, 0x4B, 0x05, 0x06, // end signature
    0x00, 0x00,             // this disk
    0x00, 0x00,             // disk of the central directory
    0x00, 0x00,             // entries on this disk
    0x00, 0x00,             // total entries
    0x00, 0x00, 0x00, 0x00, // central directory size
    0x00, 0x00, 0x00, 0x00, // central directory offset
    0x00, 0x00,             // comment length
};
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(EndRecord, Validate, testing::Values(
    Case{"TwentyOneBytes", [] { return Bytes(21, 0); }, tooShort},
    Case{"EndRecordOnly", [] { return emptyArchive; }, badDirectory},
    Case{"NoSignature", [] { return Bytes(200, 0); }, noEndRecord},
    Case{"TrailingByte", [] { return withTrailingByte(sample().build()); }, noEndRecord},
    Case{"CommentLengthPastTheEnd", [] { return with16(In::end, 20, 1); }, noEndRecord},
    Case{"LongestComment", [] { return sample().comment(std::string(65535, 'c')).build(); }, ""},
    Case{"LongestCommentThenTrailingByte",
         [] { return withTrailingByte(sample().comment(std::string(65535, 'c')).build()); }, noEndRecord},
    // A signature in the comment whose record would not end at the file's end is passed over...
    Case{"SignatureInsideComment", [] { return sample().comment(endRecordText(1, 0, 0, 40) + "tail").build(); }, ""},
    // ...and one that does is the end record, as the search runs from the end.
    Case{"FittingRecordInsideComment", [] { return sample().comment("abc" + endRecordText(0, 0, 0, 0)).build(); },
         badDirectory}),
    caseName);

INSTANTIATE_TEST_SUITE_P(Directory, Validate, testing::Values(
    Case{"ThisDiskNotZero", [] { return with16(In::end, 4, 1); }, badDirectory},
    Case{"DirectoryDiskNotZero", [] { return with16(In::end, 6, 1); }, badDirectory},
    Case{"MoreOnThisDiskThanTotal", [] { return with16(In::end, 8, 3); }, badDirectory},
    Case{"Zip64EntryCounts", [] { return withCount(0xFFFF); }, badDirectory},
    Case{"TwentyThousandEntries", [] { return withCount(20000); }, badDirectory},
    Case{"Zip64Offset", [] { return with32(In::end, 16, 0xFFFFFFFF); }, badDirectory},
    Case{"OffsetPastEndRecord", [] {
        return with32(In::end, 16, [](const ZipLayout& at) { return at.end + 1; });
    }, badDirectory},
    Case{"SizeRunsIntoEndRecord", [] { return withDirectorySize(+1); }, badDirectory},
    Case{"Zip64Size", [] { return with32(In::end, 12, 0xFFFFFFFF); }, badDirectory}),
    caseName);

INSTANTIATE_TEST_SUITE_P(CentralHeader, Validate, testing::Values(
    Case{"MoreEntriesThanHeaders", [] { return withCount(3); }, badEntry},
    Case{"HeaderInFreeSpaceWithoutSignature", [] { return withCount(3, sample().gapBeforeEnd(64)); }, badEntry},
    Case{"LocalSignatureInDirectory", [] { return with32(In::central, 0, 0x04034B50); }, badEntry}),
    caseName);

INSTANTIATE_TEST_SUITE_P(Name, Validate, testing::Values(
    Case{"Empty", [] { return oneFile(""); }, badName},
    Case{"RunsPastDirectory", [] { return withDirectorySize(-1); }, badName},
    Case{"CommentRunsPastDirectory", [] { return with16(In::central, 32, 1); }, badName},
    Case{"TruncatedSequence", [] { return oneFile(bundle + "\xC3"); }, badName},
    Case{"OverlongSlash", [] { return oneFile(bundle + "\xC0\xAF"); }, badName},
    Case{"Surrogate", [] { return oneFile(bundle + "\xED\xA0\x80"); }, badName},
    Case{"BeyondUnicode", [] { return oneFile(bundle + "\xF4\x90\x80\x80"); }, badName},
    Case{"LoneContinuation", [] { return oneFile(bundle + "\x80"); }, badName},
    Case{"Latin1", [] { return oneFile(bundle + "R\xE9sum\xE9"); }, badName},
    Case{"FourByteCharacter", [] { return oneFile(bundle + "\xF0\x9F\x94\x8B"); }, ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(Path, Validate, testing::Values(
    Case{"BundleDirectory", [] { return ZipBuilder().dir(bundle).build(); }, ""},
    Case{"InfoPlist", [] { return oneFile(bundle + "Contents/Info.plist"); }, ""},
    Case{"ResourceFork", [] { return oneFile("__MACOSX/._x"); }, ""},
    Case{"BundleAsPlainName", [] { return oneFile("Quelmar_Monitor.app"); }, ""},
    Case{"EmptyPiece", [] { return oneFile(bundle + "Contents//Info.plist"); }, ""},
    Case{"DotsInsidePieces", [] { return twoFiles(bundle + "...", bundle + "..x/x.."); }, ""},
    Case{"TopLevelFile", [] { return oneFile("README.txt"); }, unsafePath},
    Case{"LeadingSlash", [] { return oneFile("/" + bundle + "x"); }, unsafePath},
    Case{"ParentPiece", [] { return oneFile(bundle + "../x"); }, unsafePath},
    Case{"TrailingParentPiece", [] { return oneFile(bundle + "Contents/.."); }, unsafePath},
    Case{"DotPiece", [] { return oneFile(bundle + "./x"); }, unsafePath},
    Case{"DotFirst", [] { return oneFile("./" + bundle + "x"); }, unsafePath},
    Case{"ParentOnly", [] { return oneFile(".."); }, unsafePath},
    Case{"Backslash", [] { return oneFile(bundle + "Contents\\Info.plist"); }, unsafePath},
    Case{"BackslashSeparators", [] { return oneFile("Quelmar_Monitor.app\\Contents\\Info.plist"); }, unsafePath},
    Case{"Nul", [] { return oneFile(bundle + std::string("a\0b", 3)); }, unsafePath},
    Case{"OtherCase", [] { return oneFile("quelmar_monitor.app/x"); }, unsafePath},
    Case{"LongerFirstPiece", [] { return oneFile("Quelmar_Monitor.app2/x"); }, unsafePath},
    Case{"DriveLetter", [] { return oneFile("C:/x"); }, unsafePath}),
    caseName);

// Unicode normalization: "é" precomposed and decomposed, Hangul syllable and jamo, Kelvin sign and K, two
// combining marks in either order. Names that unpack to one path count as one name too.
INSTANTIATE_TEST_SUITE_P(Duplicate, Validate, testing::Values(
    Case{"SameName", [] { return twoFiles(bundle + "x", bundle + "x"); }, unsafePath},
    Case{"NfcThenNfd", [] { return twoFiles(bundle + "caf\u00E9", bundle + "cafe\u0301"); }, unsafePath},
    Case{"NfdThenNfc", [] { return twoFiles(bundle + "cafe\u0301", bundle + "caf\u00E9"); }, unsafePath},
    Case{"Hangul", [] { return twoFiles(bundle + "\uD55C", bundle + "\u1112\u1161\u11AB"); }, unsafePath},
    Case{"KelvinSign", [] { return twoFiles(bundle + "K", bundle + "\u212A"); }, unsafePath},
    Case{"MarkOrder", [] { return twoFiles(bundle + "a\u0308\u0323", bundle + "a\u0323\u0308"); }, unsafePath},
    Case{"RepeatedSlash", [] { return twoFiles(bundle + "Contents/x", bundle + "Contents//x"); }, unsafePath},
    Case{"FileThenDirectory", [] { return ZipBuilder().file(bundle + "a").dir(bundle + "a/").build(); }, unsafePath},
    Case{"OtherCaseIsAnotherName", [] { return twoFiles(bundle + "info.plist", bundle + "Info.plist"); }, ""},
    Case{"CompatibilityOnlyIsAnotherName", [] { return twoFiles(bundle + "\uFB01", bundle + "fi"); }, ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(Content, Validate, testing::Values(
    Case{"NoModeRecorded", [] { return oneEntry(ZipEntry(bundle + "x").attributes(0)); }, ""},
    Case{"DosDirectoryAttribute", [] { return oneEntry(ZipEntry(bundle + "x/").attributes(0x10)); }, ""},
    Case{"Executable", [] { return oneEntry(ZipEntry(bundle + "x").attributes(0100755u << 16)); }, ""},
    Case{"DescriptorAndUtf8Flags", [] { return oneEntry(ZipEntry(bundle + "x").flags(0x0808).method(8)); }, ""},
    Case{"SymbolicLink", [] { return oneEntry(ZipEntry(bundle + "x").attributes(0xA1EDu << 16)); }, badContent},
    Case{"CharacterDevice", [] { return oneEntry(ZipEntry(bundle + "x").attributes(020644u << 16)); }, badContent},
    Case{"BlockDevice", [] { return oneEntry(ZipEntry(bundle + "x").attributes(060644u << 16)); }, badContent},
    Case{"Fifo", [] { return oneEntry(ZipEntry(bundle + "x").attributes(010644u << 16)); }, badContent},
    Case{"Socket", [] { return oneEntry(ZipEntry(bundle + "x").attributes(0140755u << 16)); }, badContent},
    Case{"UnknownType", [] { return oneEntry(ZipEntry(bundle + "x").attributes(0xF1A4u << 16)); }, badContent},
    Case{"Encrypted", [] { return oneEntry(ZipEntry(bundle + "x").flags(1)); }, badContent},
    Case{"StrongEncryption", [] { return oneEntry(ZipEntry(bundle + "x").flags(0x41)); }, badContent},
    Case{"Imploded", [] { return oneEntry(ZipEntry(bundle + "x").method(6)); }, badContent},
    Case{"Bzip2", [] { return oneEntry(ZipEntry(bundle + "x").method(12)); }, badContent},
    Case{"Aes", [] { return oneEntry(ZipEntry(bundle + "x").method(99)); }, badContent}),
    caseName);
// clang-format on

ZipBuilder sized(std::vector<std::uint32_t> sizes) {
    ZipBuilder builder;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        builder.add(ZipEntry(bundle + std::to_string(i), "x").method(8).uncompressedSize(sizes[i]));
    }
    return builder;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ExpandedSize, Validate, testing::Values(
    Case{"ExactlyOneGiB", [] { return sized({0x20000000, 0x1FFFFFFF, 1}).build(); }, ""},
    Case{"OneGiBAndOneByte", [] { return sized({0x20000000, 0x1FFFFFFF, 1, 1}).build(); }, tooLarge},
    Case{"Zip64Marker", [] { return sized({0xFFFFFFFF}).build(); }, tooLarge},
    // A 32-bit total would wrap to 0 here.
    Case{"TotalPastFourGiB", [] { return sized({0x40000000, 0xC0000000}).build(); }, tooLarge}),
    caseName);

INSTANTIATE_TEST_SUITE_P(LocalHeader, Validate, testing::Values(
    Case{"OffsetAtDirectory", [] { return with32(In::central, 42, [](const ZipLayout& at) { return at.cdStart; }); },
         badLocal},
    // A local signature 29 bytes before the directory: the header would end inside it.
    Case{"HeaderEndsInDirectory", [] {
        const auto builder = ZipBuilder().dir(bundle).file(bundle + "x", "PK\x03\x04" + std::string(25, 'p'));
        return with32(In::central, 42, [](const ZipLayout& at) { return at.cdStart - 29; }, builder);
    }, badLocal},
    Case{"Zip64Offset", [] { return with32(In::central, 42, 0xFFFFFFFF); }, badLocal},
    Case{"NoSignature", [] { return with32(In::local, 0, 0x02014B50); }, badLocal},
    Case{"OffsetOffByOne",
         [] { return with32(In::central, 42, [](const ZipLayout& at) { return at.local[1] + 1; }); }, badLocal}),
    caseName);

INSTANTIATE_TEST_SUITE_P(LocalAgreement, Validate, testing::Values(
    Case{"NameDiffersInCaseOnly",
         [] { return oneEntry(ZipEntry(bundle + "Info.plist").localName(bundle + "info.plist")); }, localMismatch},
    Case{"NameDiffersInNormalization",
         [] { return oneEntry(ZipEntry(bundle + "caf\u00E9").localName(bundle + "cafe\u0301")); }, localMismatch},
    Case{"NameLonger", [] { return oneEntry(ZipEntry(bundle + "x").localName(bundle + "xy")); }, localMismatch},
    Case{"ExtraRunsIntoDirectory", [] { return with16(In::local, 28, 0xFFFF); }, localMismatch},
    Case{"DataOverlapsDirectory", [] { return oneEntry(ZipEntry(bundle + "x", "abc").compressedSize(4)); },
         localMismatch},
    Case{"DataEndsAtDirectory", [] { return oneEntry(ZipEntry(bundle + "x", "abc").compressedSize(3)); }, ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(DirectoryLength, Validate, testing::Values(
    Case{"FreeSpaceBeforeEndRecord", [] { return sample().gapBeforeEnd(100).build(); }, ""},
    Case{"SizeCountsFreeSpace", [] { return withDirectorySize(+4, sample().gapBeforeEnd(4)); }, lengthMismatch},
    Case{"FewerEntriesThanHeaders", [] { return withCount(1); }, lengthMismatch}),
    caseName);

// Each entry is checked completely, step by step, before the next.
INSTANTIATE_TEST_SUITE_P(Order, Validate, testing::Values(
    Case{"PathBeforeContent", [] { return oneEntry(ZipEntry("README").attributes(0xA1EDu << 16)); }, unsafePath},
    Case{"ContentBeforeSize", [] { return oneEntry(ZipEntry(bundle + "x").flags(1).uncompressedSize(0xFFFFFFFF)); },
         badContent},
    Case{"SizeBeforeLocalHeader",
         [] { return oneEntry(ZipEntry(bundle + "x").uncompressedSize(0xFFFFFFFF).localOffset(0xFFFF)); }, tooLarge},
    Case{"EarlierEntryFirst",
         [] { return ZipBuilder().add(ZipEntry(bundle + "a").localOffset(0xFFFF)).file("README").build(); },
         badLocal},
    Case{"EntriesBeforeDirectoryLength",
         [] { return withDirectorySize(+4, ZipBuilder().dir(bundle).file("README").gapBeforeEnd(4)); }, unsafePath}),
    caseName);
// clang-format on

TEST(NativeZip, AcceptsTheLargestEntryCount) {
    ZipBuilder builder;
    for (std::uint32_t i = 0; i < NativeZip::maxEntries; ++i) {
        builder.file(bundle + std::to_string(i), "");
    }
    EXPECT_NO_THROW(NativeZip::validate(builder.build()));
}

// Every truncation, and every offset and length field claiming every value up to past the buffer's end and the
// 32-bit extremes, is judged without reading outside the buffer (each copy is its own allocation, so the address
// sanitizer sees an overrun). The archive is ASCII throughout, so a name read too far is not cut short by invalid
// UTF-8, and its free space starts like a central header, so a header read too close to the end is not cut short
// by a missing signature.
TEST(NativeZip, SurvivesEveryOffsetAndLength) {
    ZipLayout at;
    Bytes original =
        ZipBuilder().add(ZipEntry(bundle + "x", "data").attributes(0)).gapBeforeEnd(4).comment("note").build(&at);
    put32(original, at.cdStart + at.cdSize, 0x02014B50);
    ASSERT_TRUE(std::all_of(original.begin(), original.end(), [](std::uint8_t byte) { return byte < 0x80; }));
    // Either outcome will do: what counts is that nothing outside the buffer is read.
    const auto judge = [](const Bytes& archive) {
        try {
            NativeZip::validate(archive);
        } catch (const UPSError&) {
        }
    };
    for (std::size_t length = 0; length <= original.size(); ++length) {
        EXPECT_NO_THROW(judge(Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(length))));
    }
    using Setter = std::function<void(Bytes&, std::uint32_t)>;
    const auto u16At = [](std::size_t offset) -> Setter {
        return [offset](Bytes& b, std::uint32_t v) { put16(b, offset, static_cast<std::uint16_t>(v)); };
    };
    const auto u32At = [](std::size_t offset) -> Setter {
        return [offset](Bytes& b, std::uint32_t v) { put32(b, offset, v); };
    };
    const std::vector<Setter> fields = {
        [&](Bytes& b, std::uint32_t v) {
            put16(b, at.end + 8, static_cast<std::uint16_t>(v));
            put16(b, at.end + 10, static_cast<std::uint16_t>(v));
        },
        u32At(at.end + 12),
        u32At(at.end + 16),
        u16At(at.end + 20),
        u32At(at.central[0] + 20),
        u16At(at.central[0] + 28),
        u16At(at.central[0] + 30),
        u16At(at.central[0] + 32),
        u32At(at.central[0] + 42),
        u16At(at.local[0] + 26),
        u16At(at.local[0] + 28),
    };
    std::vector<std::uint32_t> values = {0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFF};
    for (std::uint32_t v = 0; v <= original.size() + 64; ++v) {
        values.push_back(v);
    }
    for (std::size_t field = 0; field < fields.size(); ++field) {
        for (const auto value : values) {
            Bytes changed = original;
            fields[field](changed, value);
            EXPECT_NO_THROW(judge(changed)) << "field " << field << " = " << value;
        }
    }
}

TEST(NativeZip, EntriesAreTheValidatedRecordsInOrder) {
    const Bytes archive =
        ZipBuilder()
            .dir(bundle)
            .add(ZipEntry(bundle + "cafe\u0301", "abc").attributes(0100755u << 16).method(8).uncompressedSize(10))
            .add(ZipEntry(bundle + "Resources/", "").attributes(0))
            .add(ZipEntry("__MACOSX/._x", "").attributes(0))
            .build();
    const auto entries = NativeZip::entries(archive);
    using NativeZip::Entry;
    using NativeZip::EntryType;
    EXPECT_THAT(entries, ElementsAre(Entry{bundle, EntryType::directory, 040755, 0, 0, 0, 0},
                                     Entry{bundle + "cafe\u0301", EntryType::regular, 0100755, 8, 3, 10, 50},
                                     Entry{bundle + "Resources/", EntryType::directory, 0, 0, 0, 0, 109},
                                     Entry{"__MACOSX/._x", EntryType::regular, 0, 0, 0, 0, 169}));
}

TEST(NativeZip, EntriesRefusesWhatValidateRefuses) {
    const std::vector<std::pair<Bytes, std::string>> refused = {
        {Bytes(21, 0), tooShort},
        {twoFiles(bundle + "x", bundle + "x"), unsafePath},
        {withDirectorySize(+4, sample().gapBeforeEnd(4)), lengthMismatch},
    };
    for (const auto& [archive, message] : refused) {
        EXPECT_THAT([&] { NativeZip::validate(archive); }, ThrowsUPSError(message));
        EXPECT_THAT([&] { NativeZip::entries(archive); }, ThrowsUPSError(message));
    }
}

// Archives made by the real tools, from a bundle tree on disk.
class RealTools : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quelmar-zip-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        write("Quelmar_Monitor.app/Contents/Info.plist", "<plist version=\"1.0\"><dict/></plist>\n");
        write("Quelmar_Monitor.app/Contents/MacOS/quelmar", std::string(5000, 'q'));
        fs::permissions(root_ / "Quelmar_Monitor.app/Contents/MacOS/quelmar", fs::perms::owner_exec,
                        fs::perm_options::add);
        fs::create_directories(root_ / "Quelmar_Monitor.app/Contents/Resources");
        write("Quelmar_Monitor.app/Contents/Resources/説明.txt", "readme");
        write("__MACOSX/Quelmar_Monitor.app/Contents/._Info.plist", "fork");
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& relative, const std::string& content) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }

    Bytes run(const std::string& tool, const std::vector<std::string>& arguments) {
        ProcessOptions options;
        options.workingDirectory = root_.string();
        options.setEnv["LC_ALL"] = "C.UTF-8"; // the tools keep non-ASCII names as UTF-8
        const auto result = runProcess(tool, arguments, options);
        EXPECT_EQ(result.status, 0) << tool << ": " << result.err;
        std::ifstream in(root_ / "out.zip", std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    Bytes python(const std::string& script) {
        return run("/usr/bin/python3",
                   {"-c", "import zipfile\nz = zipfile.ZipFile('out.zip', 'w')\n" + script + "\nz.close()\n"});
    }

    // What the tree holds, as the entries should describe it: directories with a trailing slash.
    std::map<std::string, std::pair<NativeZip::EntryType, std::uint32_t>> tree() const {
        std::map<std::string, std::pair<NativeZip::EntryType, std::uint32_t>> expected;
        for (const auto& item : fs::recursive_directory_iterator(root_)) {
            const auto name = fs::relative(item.path(), root_).string();
            if (item.is_directory()) {
                expected[name + "/"] = {NativeZip::EntryType::directory, 0};
            } else if (name != "out.zip") {
                expected[name] = {NativeZip::EntryType::regular, static_cast<std::uint32_t>(item.file_size())};
            }
        }
        return expected;
    }

    void expectTheTree(const Bytes& archive) {
        ASSERT_NO_THROW(NativeZip::validate(archive));
        std::map<std::string, std::pair<NativeZip::EntryType, std::uint32_t>> seen;
        for (const auto& entry : NativeZip::entries(archive)) {
            seen[entry.name] = {entry.type, entry.uncompressedSize};
        }
        EXPECT_EQ(seen, tree());
    }

    fs::path root_;
};

TEST_F(RealTools, ZipArchiveIsAccepted) {
    expectTheTree(run("/usr/bin/zip", {"-q", "-r", "out.zip", "Quelmar_Monitor.app", "__MACOSX"}));
}

TEST_F(RealTools, BsdtarArchiveIsAccepted) {
    expectTheTree(run("/usr/bin/bsdtar", {"--format", "zip", "-cf", "out.zip", "Quelmar_Monitor.app", "__MACOSX"}));
}

TEST_F(RealTools, PythonArchiveIsAccepted) {
    expectTheTree(run("/usr/bin/python3", {"-m", "zipfile", "-c", "out.zip", "Quelmar_Monitor.app", "__MACOSX"}));
}

TEST_F(RealTools, PythonArchiveWithTheLongestCommentIsAccepted) {
    EXPECT_NO_THROW(NativeZip::validate(python("z.writestr('Quelmar_Monitor.app/x', 'x')\nz.comment = b'c' * 65535")));
}

TEST_F(RealTools, ZipSymbolicLinkIsRefused) {
    fs::create_symlink("Info.plist", root_ / "Quelmar_Monitor.app/Contents/link");
    EXPECT_THAT(
        [&] {
            NativeZip::validate(run("/usr/bin/zip", {"-q", "-r", "-y", "out.zip", "Quelmar_Monitor.app"}));
        },
        ThrowsUPSError(badContent));
}

TEST_F(RealTools, BsdtarSymbolicLinkIsRefused) {
    fs::create_symlink("Info.plist", root_ / "Quelmar_Monitor.app/Contents/link");
    EXPECT_THAT(
        [&] {
            NativeZip::validate(run("/usr/bin/bsdtar", {"--format", "zip", "-cf", "out.zip", "Quelmar_Monitor.app"}));
        },
        ThrowsUPSError(badContent));
}

TEST_F(RealTools, ZipEncryptionIsRefused) {
    EXPECT_THAT(
        [&] {
            NativeZip::validate(run("/usr/bin/zip", {"-q", "-r", "-P", "secret", "out.zip", "Quelmar_Monitor.app"}));
        },
        ThrowsUPSError(badContent));
}

TEST_F(RealTools, ZipBzip2IsRefused) {
    EXPECT_THAT(
        [&] {
            NativeZip::validate(run("/usr/bin/zip", {"-q", "-r", "-Z", "bzip2", "out.zip", "Quelmar_Monitor.app"}));
        },
        ThrowsUPSError(badContent));
}

TEST_F(RealTools, TopLevelFileIsRefused) {
    write("README.txt", "hello");
    EXPECT_THAT(
        [&] {
            NativeZip::validate(run("/usr/bin/zip", {"-q", "-r", "out.zip", "Quelmar_Monitor.app", "README.txt"}));
        },
        ThrowsUPSError(unsafePath));
}

TEST_F(RealTools, PythonTraversalIsRefused) {
    EXPECT_THAT([&] { NativeZip::validate(python("z.writestr('Quelmar_Monitor.app/../evil', 'x')")); },
                ThrowsUPSError(unsafePath));
}

TEST_F(RealTools, PythonNfdDuplicateIsRefused) {
    const Bytes archive = python("z.writestr('Quelmar_Monitor.app/caf\\u00e9', 'a')\n"
                                 "z.writestr('Quelmar_Monitor.app/cafe\\u0301', 'b')");
    EXPECT_THAT([&] { NativeZip::validate(archive); }, ThrowsUPSError(unsafePath));
}

TEST_F(RealTools, EntriesKeepTheStoredNameBytes) {
    const auto entries = NativeZip::entries(python("z.writestr('Quelmar_Monitor.app/cafe\\u0301', 'abc')"));
    EXPECT_THAT(entries, ElementsAre(Field(&NativeZip::Entry::name, bundle + "cafe\u0301")));
}

} // namespace
