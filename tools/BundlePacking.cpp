#include "tools/BundlePacking.h"

#include "core/NativeZip.h"
#include "core/SignedUpdates.h"
#include "install/Bundle.h"
#include "install/LibArchive.h"
#include "install/SealedBundle.h"
#include "system/Files.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

namespace quelmar::publish {

namespace fs = std::filesystem;

namespace {

// 2000-01-01 00:00:00 UTC; ZIP times cannot go before 1980.
constexpr time_t fixedTime = 946684800;

[[noreturn]] void fail(archive* a, const std::string& what) {
    throw std::runtime_error(what + ": " + LibArchive::errorText(a, "libarchive failed"));
}

void addEntry(archive* writer, const std::string& name, const fs::path& source, bool directory) {
    const LibArchive::Entry entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_mtime(entry.get(), fixedTime, 0);
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0) {
        throw std::system_error(errno, std::generic_category(), source.string());
    }
    archive_entry_set_filetype(entry.get(), directory ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(entry.get(), status.st_mode & 0777);
    if (directory) {
        archive_entry_set_size(entry.get(), 0);
        if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) {
            fail(writer, name);
        }
        return;
    }
    const auto content = Files::readUpTo(source, NativeZip::maxExpandedSize, false);
    if (!content) {
        throw std::runtime_error(source.string() + ": too large for an update archive");
    }
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content->size()));
    if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) {
        fail(writer, name);
    }
    if (!content->empty() &&
        archive_write_data(writer, content->data(), content->size()) != static_cast<la_ssize_t>(content->size())) {
        fail(writer, name);
    }
}

} // namespace

PackedArchive pack(const fs::path& bundle, const fs::path& archivePath) {
    // The same walk as the seal's: it refuses links and special files, and includes the manifest below.
    auto items = SealedBundle::items(bundle);
    if (fs::exists(bundle / BundleSeal::manifestPath)) {
        items.push_back({std::string(BundleSeal::manifestPath), false, 0, 0, {}});
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    }

    Files::AtomicFile output(archivePath);
    {
        const LibArchive::Writer writer(archive_write_new());
        if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK ||
            archive_write_set_options(writer.get(), "zip:compression=deflate") != ARCHIVE_OK ||
            archive_write_open_fd(writer.get(), output.descriptor()) != ARCHIVE_OK) {
            fail(writer.get(), archivePath.string());
        }
        const std::string top = std::string(Bundle::name) + "/";
        addEntry(writer.get(), top, bundle, true);
        for (const auto& item : items) {
            addEntry(writer.get(), top + item.path + (item.directory ? "/" : ""), bundle / item.path, item.directory);
        }
        if (archive_write_close(writer.get()) != ARCHIVE_OK) {
            fail(writer.get(), archivePath.string());
        }
    }
    const auto bytes = Files::readUpTo(output.temporaryPath(), NativeZip::maxExpandedSize * 2);
    if (!bytes) {
        throw std::runtime_error(archivePath.string() + ": too large");
    }
    // What the client will check first; a bundle it would refuse is not published.
    NativeZip::validate(*bytes);
    output.commit();
    return PackedArchive{bytes->size(), SignedUpdates::hash(*bytes)};
}

} // namespace quelmar::publish
