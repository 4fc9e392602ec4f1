#include "install/ZipExtraction.h"

#include "core/ToolFailure.h"
#include "core/UPSError.h"
#include "install/LibArchive.h"

#include <cerrno>
#include <clocale>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include <locale.h>
#include <sys/stat.h>

namespace quelmar::ZipExtraction {

namespace fs = std::filesystem;

namespace {

const LibArchive::Library& libarchive() {
    return LibArchive::library();
}

using NativeZip::linkOrSpecial;
using NativeZip::unsafePath;
constexpr const char* mismatch = NativeZip::localMismatch;

constexpr int flags = ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                      ARCHIVE_EXTRACT_NO_OVERWRITE;

// libarchive turns UTF-8 names into the locale's encoding and warns when it cannot; a UTF-8 character type for
// this thread keeps the bytes as they are, whatever locale the process runs in.
class Utf8Locale {
public:
    Utf8Locale()
        : locale_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
        if (locale_ != static_cast<locale_t>(nullptr)) {
            previous_ = ::uselocale(locale_);
        }
    }
    ~Utf8Locale() {
        if (locale_ != static_cast<locale_t>(nullptr)) {
            ::uselocale(previous_);
            ::freelocale(locale_);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t locale_;
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

[[noreturn]] void libarchiveFailure(archive* a, const std::string& name) {
    throw toolFailure("libarchive", (name.empty() ? "" : name + ": ") + LibArchive::errorText(a, "unknown error"));
}

bool isResourceFork(std::string_view name) {
    return name.substr(0, name.find('/')) == NativeZip::resourceForkDirectory;
}

void copyData(archive* reader, archive* writer, const std::string& name, std::uint64_t expected, bool write) {
    std::uint64_t total = 0;
    while (true) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int r = libarchive().read_data_block(reader, &block, &size, &offset);
        if (r == ARCHIVE_EOF) {
            break;
        }
        if (r != ARCHIVE_OK) {
            libarchiveFailure(reader, name);
        }
        if (offset < 0 || static_cast<std::uint64_t>(offset) != total || size > expected - total) {
            throw UPSError(mismatch);
        }
        total += size;
        if (write && libarchive().write_data_block(writer, block, size, offset) != ARCHIVE_OK) {
            libarchiveFailure(writer, name);
        }
    }
    if (total != expected) {
        throw UPSError(mismatch);
    }
}

} // namespace

void extract(ByteView archiveBytes, const std::vector<NativeZip::Entry>& entries, const fs::path& destination) {
    const Utf8Locale utf8;
    // Resolved first: a link anywhere in the destination path would make the secure flags refuse every entry.
    const std::string root = fs::canonical(destination).string();

    std::map<std::string, const NativeZip::Entry*> records;
    for (const auto& entry : entries) {
        records.emplace(entry.name, &entry);
    }
    std::set<std::string> seen;

    const LibArchive::Reader reader(libarchive().read_new());
    const LibArchive::Writer writer(libarchive().write_disk_new());
    if (!reader || !writer) {
        throw std::bad_alloc();
    }
    // Only the seekable reader: it takes the entries from the central directory, as the validator did.
    if (libarchive().read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK ||
        libarchive().read_open_memory(reader.get(), archiveBytes.data(), archiveBytes.size()) != ARCHIVE_OK) {
        libarchiveFailure(reader.get(), "");
    }
    if (libarchive().write_disk_set_options(writer.get(), flags) != ARCHIVE_OK) {
        libarchiveFailure(writer.get(), "");
    }

    while (true) {
        archive_entry* entry = nullptr;
        const int r = libarchive().read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF) {
            break;
        }
        if (r != ARCHIVE_OK) {
            libarchiveFailure(reader.get(), "");
        }
        const char* pathname = libarchive().entry_pathname(entry);
        if (pathname == nullptr) {
            throw UPSError(mismatch);
        }
        const std::string name(pathname);
        const auto record = records.find(name);
        if (record == records.end() || !seen.insert(name).second) {
            throw UPSError(mismatch);
        }
        const auto type = libarchive().entry_filetype(entry);
        if ((type != AE_IFREG && type != AE_IFDIR) || libarchive().entry_hardlink(entry) != nullptr ||
            libarchive().entry_symlink(entry) != nullptr || libarchive().entry_is_encrypted(entry)) {
            throw UPSError(linkOrSpecial);
        }
        const bool directory = type == AE_IFDIR;
        if (directory != (record->second->type == NativeZip::EntryType::directory)) {
            throw UPSError(mismatch);
        }
        const std::uint64_t size = record->second->uncompressedSize;
        if (!directory && (!libarchive().entry_size_is_set(entry) || libarchive().entry_size(entry) < 0 ||
                           static_cast<std::uint64_t>(libarchive().entry_size(entry)) != size)) {
            throw UPSError(mismatch);
        }
        if (isResourceFork(name)) {
            if (!directory) {
                copyData(reader.get(), nullptr, name, size, false);
            }
            continue;
        }

        const std::string path = root + "/" + name;
        // Without the trailing slash, so that lstat judges a link itself rather than what it points to.
        std::string bare = path;
        while (bare.ends_with('/')) {
            bare.pop_back();
        }
        struct stat existing {};
        if (::lstat(bare.c_str(), &existing) == 0 && (!directory || !S_ISDIR(existing.st_mode))) {
            throw UPSError(unsafePath);
        }
        libarchive().entry_set_perm(entry, libarchive().entry_perm(entry) & 0777);
        libarchive().entry_copy_pathname(entry, path.c_str());
        if (directory) {
            libarchive().entry_set_size(entry, 0);
        }
        if (libarchive().write_header(writer.get(), entry) != ARCHIVE_OK) {
            libarchiveFailure(writer.get(), name);
        }
        if (!directory) {
            copyData(reader.get(), writer.get(), name, size, true);
        }
        if (libarchive().write_finish_entry(writer.get()) != ARCHIVE_OK) {
            libarchiveFailure(writer.get(), name);
        }
    }
    if (seen.size() != entries.size()) {
        throw UPSError(mismatch);
    }
    // Directory permissions are applied here, after their contents were written.
    if (libarchive().write_close(writer.get()) != ARCHIVE_OK) {
        libarchiveFailure(writer.get(), "");
    }
}

} // namespace quelmar::ZipExtraction
