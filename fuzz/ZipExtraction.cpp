// Staging's unpacking: NativeZip's checks, then libarchive's extraction of what they accepted into a fresh
// directory. Only UPSError, and nothing is written outside that directory.
#include "install/ZipExtraction.h"

#include "Fuzz.h"
#include "core/NativeZip.h"
#include "core/UPSError.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

using namespace quelmar;
namespace fs = std::filesystem;

namespace {

// A private folder in memory when the machine has one, removed at exit; each input unpacks into "stage" in it.
const fs::path& workspace() {
    static const fs::path root = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string name = (base / "quelmar-fuzz-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            std::abort();
        }
        std::atexit([] { fs::remove_all(workspace()); });
        return fs::path(name);
    }();
    return root;
}

// Unpacked permissions may shut the owner out; open every folder again so that the tree can be removed.
void removeTree(const fs::path& tree) {
    std::error_code ignored;
    fs::permissions(tree, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(tree, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(tree);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archive = fuzz::bytes(data, size);
    std::vector<NativeZip::Entry> entries;
    try {
        entries = NativeZip::entries(archive);
    } catch (const UPSError&) {
        return 0;
    }
    const auto stage = workspace() / "stage";
    fs::create_directory(stage);
    try {
        ZipExtraction::extract(archive, entries, stage);
    } catch (const UPSError&) {
    }
    removeTree(stage);
    QUELMAR_FUZZ_CHECK(fs::is_empty(workspace()));
    return 0;
}
