#include "history/HistoryFile.h"

#include "core/UTCTime.h"
#include "system/Files.h"

#include <cstdlib>
#include <string>

#include <sys/stat.h>

namespace quelmar::HistoryFile {

namespace fs = std::filesystem;

fs::path defaultPath() {
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && fs::path(xdg).is_absolute()) {
        data = xdg;
    } else {
        data = Files::homeDirectory() / ".local/share";
    }
    return data / "quelmar" / "history.sqlite";
}

void createFolder(const fs::path& file) {
    const auto folder = file.parent_path();
    if (folder.empty() || fs::is_directory(folder)) {
        return;
    }
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
}

std::optional<Identity> identityOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return Identity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

fs::path setAside(const fs::path& file, HistoryTime now) {
    std::string stamp = utcText(now);
    std::erase(stamp, '-');
    std::erase(stamp, ':');
    const std::string base = file.string() + ".corrupt-" + stamp;
    fs::path target = base;
    for (int n = 2; fs::exists(fs::symlink_status(target)); ++n) {
        target = base + "-" + std::to_string(n);
    }
    // The companions first: a -wal left behind would be replayed into the new file.
    for (const char* suffix : {"-wal", "-shm"}) {
        const fs::path companion = file.string() + suffix;
        if (fs::exists(fs::symlink_status(companion))) {
            fs::rename(companion, target.string() + suffix);
        }
    }
    fs::rename(file, target);
    return target;
}

} // namespace quelmar::HistoryFile
