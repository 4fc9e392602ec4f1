#include "install/SealedBundle.h"

#include "core/Sha256.h"
#include "core/ToolFailure.h"
#include "system/Descriptor.h"
#include "system/Files.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmar::SealedBundle {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& reason) {
    throw toolFailure(BundleSeal::toolName, reason);
}

BundleSeal::Item fileItem(const fs::path& path, std::string relative) {
    // Opened without following a link, then judged by what was opened, so that a swap after listing changes
    // nothing.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ELOOP) {
            fail("a link is not allowed in the bundle: " + relative);
        }
        throw std::system_error(errno, std::generic_category(), path.string());
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw std::system_error(errno, std::generic_category(), path.string());
    }
    if (!S_ISREG(status.st_mode)) {
        fail("a special file is not allowed in the bundle: " + relative);
    }
    if (status.st_nlink != 1) {
        fail("a link is not allowed in the bundle: " + relative);
    }
    BundleSeal::Item item;
    item.path = std::move(relative);
    item.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
    item.size = static_cast<std::uint64_t>(status.st_size);
    Sha256 hash;
    Files::readToEnd(
        file.get(),
        [&](ByteView block) {
            hash.update(block);
            return true;
        },
        path.string());
    item.sha256 = hash.finish();
    return item;
}

} // namespace

std::vector<BundleSeal::Item> items(const fs::path& bundle) {
    const auto root = fs::symlink_status(bundle);
    if (fs::is_symlink(root)) {
        fail("the bundle is a link: " + bundle.string());
    }
    if (!fs::is_directory(root)) {
        fail("the bundle is not a directory: " + bundle.string());
    }
    std::vector<BundleSeal::Item> out;
    for (const auto& entry : fs::recursive_directory_iterator(bundle)) {
        std::string relative = entry.path().lexically_relative(bundle).generic_string();
        const auto status = entry.symlink_status();
        if (relative == BundleSeal::manifestPath) {
            if (!fs::is_regular_file(status)) {
                fail("the manifest is not a plain file: " + relative);
            }
            continue;
        }
        if (fs::is_symlink(status)) {
            fail("a link is not allowed in the bundle: " + relative);
        }
        if (fs::is_directory(status)) {
            BundleSeal::Item item;
            item.path = std::move(relative);
            item.directory = true;
            out.push_back(std::move(item));
        } else if (fs::is_regular_file(status)) {
            out.push_back(fileItem(entry.path(), std::move(relative)));
        } else {
            fail("a special file is not allowed in the bundle: " + relative);
        }
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return out;
}

void seal(const fs::path& bundle, const std::function<Bytes(ByteView)>& sign) {
    const auto body = BundleSeal::body(items(bundle));
    const auto signature = sign(ByteView(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
    Files::writeAtomically(bundle / BundleSeal::manifestPath, BundleSeal::manifest(body, signature), 0644);
}

void verify(const fs::path& bundle, ByteView publicKey) {
    const auto found = items(bundle);
    const auto manifestFile = bundle / BundleSeal::manifestPath;
    std::optional<Bytes> manifest;
    try {
        manifest = Files::readUpTo(manifestFile, BundleSeal::maxManifestSize, false);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory) {
            fail("the bundle is not sealed: " + bundle.string());
        }
        if (error.code() == std::errc::too_many_symbolic_link_levels) {
            fail("a link is not allowed in the bundle: " + std::string(BundleSeal::manifestPath));
        }
        throw;
    }
    if (!manifest) {
        fail("the manifest is too large");
    }
    BundleSeal::compare(BundleSeal::open(*manifest, publicKey), found);
}

} // namespace quelmar::SealedBundle
