#include "core/NativeZip.h"

#include "core/UPSError.h"
#include "core/UTF8.h"

#include <new>
#include <string_view>
#include <unordered_set>

#include <utf8proc.h>

namespace quelmar::NativeZip {
namespace {

constexpr std::uint32_t endSignature = 0x06054B50;
constexpr std::uint32_t centralSignature = 0x02014B50;
constexpr std::uint32_t localSignature = 0x04034B50;
constexpr std::uint64_t endRecordSize = 22;
constexpr std::uint64_t centralHeaderSize = 46;
constexpr std::uint64_t localHeaderSize = 30;
constexpr std::uint64_t endSearchWindow = endRecordSize + 0xFFFF;

constexpr std::uint16_t typeMask = 0xF000;
constexpr std::uint16_t typeRegular = 0x8000;
constexpr std::uint16_t typeDirectory = 0x4000;

[[noreturn]] void fail(const char* message) {
    throw UPSError(message);
}

bool isSafePath(std::string_view name) {
    if (name.starts_with('/') || name.find('\\') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t begin = 0;
    bool first = true;
    while (true) {
        const auto slash = name.find('/', begin);
        const auto piece = name.substr(begin, slash == std::string_view::npos ? std::string_view::npos : slash - begin);
        if (piece == "." || piece == "..") {
            return false;
        }
        if (first && piece != bundleDirectory && piece != resourceForkDirectory) {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        first = false;
        begin = slash + 1;
    }
}

void appendNFC(std::string& out, std::string_view text, std::vector<utf8proc_int32_t>& scratch) {
    constexpr auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    while (true) {
        const auto count = utf8proc_decompose(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                              static_cast<utf8proc_ssize_t>(text.size()), scratch.data(),
                                              static_cast<utf8proc_ssize_t>(scratch.size()), options);
        if (count < 0) {
            // The text is valid UTF-8 by now, so only memory can run out.
            throw std::bad_alloc();
        }
        // Re-encoding works in place and appends a NUL, hence one slot more.
        if (static_cast<std::size_t>(count) < scratch.size()) {
            const auto length = utf8proc_reencode(scratch.data(), count, options);
            if (length < 0) {
                throw std::bad_alloc();
            }
            out.append(reinterpret_cast<const char*>(scratch.data()), static_cast<std::size_t>(length));
            return;
        }
        scratch.resize(static_cast<std::size_t>(count) + 1);
    }
}

// Two names with the same key are the same name: canonically equivalent (NFC), and, since they unpack to one
// path, also when they differ only in repeated or trailing slashes. "/" never composes with a neighbour, so
// each piece is normalized alone and ASCII pieces, already in NFC, are copied.
std::string nameKey(std::string_view name, std::vector<utf8proc_int32_t>& scratch) {
    std::string key;
    key.reserve(name.size());
    std::size_t begin = 0;
    while (true) {
        const auto slash = name.find('/', begin);
        const auto piece = name.substr(begin, slash == std::string_view::npos ? std::string_view::npos : slash - begin);
        if (!piece.empty()) {
            if (!key.empty()) {
                key.push_back('/');
            }
            if (isASCII(piece)) {
                key.append(piece);
            } else {
                appendNFC(key, piece, scratch);
            }
        }
        if (slash == std::string_view::npos) {
            return key;
        }
        begin = slash + 1;
    }
}

void walk(ByteView zip, std::vector<Entry>* accepted) {
    const std::uint64_t length = zip.size();
    if (length < endRecordSize) {
        fail("ZIP 文件过短");
    }

    const std::uint64_t lowest = length > endSearchWindow ? length - endSearchWindow : 0;
    std::uint64_t e = length - endRecordSize;
    while (!(littleEndian32(zip, e) == endSignature && e + endRecordSize + littleEndian16(zip, e + 20) == length)) {
        if (e == lowest) {
            fail("ZIP 缺少结束记录");
        }
        --e;
    }

    const std::uint16_t disk = littleEndian16(zip, e + 4);
    const std::uint16_t directoryDisk = littleEndian16(zip, e + 6);
    const std::uint16_t entriesOnDisk = littleEndian16(zip, e + 8);
    const std::uint16_t totalEntries = littleEndian16(zip, e + 10);
    const std::uint64_t cdSize = littleEndian32(zip, e + 12);
    const std::uint64_t cdStart = littleEndian32(zip, e + 16);
    if (disk != 0 || directoryDisk != 0 || entriesOnDisk != totalEntries || totalEntries < 1 ||
        totalEntries > maxEntries || cdStart > e || e - cdStart < cdSize) {
        fail("ZIP 中央目录无效");
    }
    const std::uint64_t cdEnd = cdStart + cdSize;

    std::unordered_set<std::string> names;
    names.reserve(totalEntries);
    std::vector<utf8proc_int32_t> scratch(256);
    std::uint64_t expanded = 0;
    std::uint64_t pos = cdStart;
    for (std::uint32_t index = 0; index < totalEntries; ++index) {
        if (pos + centralHeaderSize > e || littleEndian32(zip, pos) != centralSignature) {
            fail("ZIP 文件条目无效");
        }
        const std::uint16_t flags = littleEndian16(zip, pos + 8);
        const std::uint16_t method = littleEndian16(zip, pos + 10);
        const std::uint32_t compressedSize = littleEndian32(zip, pos + 20);
        const std::uint32_t uncompressedSize = littleEndian32(zip, pos + 24);
        const std::uint16_t nameLength = littleEndian16(zip, pos + 28);
        const std::uint64_t next = pos + centralHeaderSize + nameLength + littleEndian16(zip, pos + 30) +
                                   static_cast<std::uint64_t>(littleEndian16(zip, pos + 32));
        const std::uint32_t externalAttributes = littleEndian32(zip, pos + 38);
        const std::uint64_t lo = littleEndian32(zip, pos + 42);

        if (nameLength == 0 || next > cdEnd) {
            fail("ZIP 文件名无效");
        }
        const std::string_view name(reinterpret_cast<const char*>(zip.data() + pos + centralHeaderSize), nameLength);
        if (!isValidUTF8(name)) {
            fail("ZIP 文件名无效");
        }

        if (!isSafePath(name) || !names.insert(nameKey(name, scratch)).second) {
            fail(unsafePath);
        }

        const auto mode = static_cast<std::uint16_t>(externalAttributes >> 16);
        const auto fileType = static_cast<std::uint16_t>(mode & typeMask);
        if ((fileType != 0 && fileType != typeRegular && fileType != typeDirectory) || (flags & 1) != 0 ||
            (method != 0 && method != 8)) {
            fail(linkOrSpecial);
        }

        expanded += uncompressedSize;
        if (expanded > maxExpandedSize) {
            fail("ZIP 展开大小超过限制");
        }

        if (lo + localHeaderSize > cdStart || littleEndian32(zip, lo) != localSignature) {
            fail("ZIP 本地记录无效");
        }
        const std::uint16_t localNameLength = littleEndian16(zip, lo + 26);
        const std::uint64_t dataStart = lo + localHeaderSize + localNameLength + littleEndian16(zip, lo + 28);
        if (dataStart > cdStart || cdStart - dataStart < compressedSize || localNameLength != nameLength ||
            std::string_view(reinterpret_cast<const char*>(zip.data() + lo + localHeaderSize), localNameLength) !=
                name) {
            fail(localMismatch);
        }

        if (accepted != nullptr) {
            const bool directory = fileType == typeDirectory || (fileType == 0 && name.ends_with('/'));
            accepted->push_back(Entry{
                .name = std::string(name),
                .type = directory ? EntryType::directory : EntryType::regular,
                .mode = mode,
                .method = method,
                .compressedSize = compressedSize,
                .uncompressedSize = uncompressedSize,
                .localHeaderOffset = static_cast<std::uint32_t>(lo),
            });
        }
        pos = next;
    }

    if (pos != cdEnd) {
        fail("ZIP 中央目录长度不符");
    }
}

} // namespace

void validate(ByteView archive) {
    walk(archive, nullptr);
}

std::vector<Entry> entries(ByteView archive) {
    std::vector<Entry> accepted;
    walk(archive, &accepted);
    return accepted;
}

} // namespace quelmar::NativeZip
