#include "install/Leftovers.h"

#include "install/Bundle.h"
#include "install/NativeInstaller.h"
#include "install/PropertyList.h"
#include "system/Files.h"
#include "system/Processes.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

namespace quelmar::Leftovers {

namespace fs = std::filesystem;

namespace {

// Set in a rolled-back stage that could not be removed yet, so that the rollback is reported only once.
constexpr std::string_view reportedMarker = "rollback-reported";
constexpr std::string_view failedPrefix = "更新失败：";

bool present(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

bool olderThanGrace(const fs::path& path) {
    std::error_code error;
    const auto written = fs::last_write_time(path, error);
    return !error && fs::file_time_type::clock::now() - written > grace;
}

void removeTree(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

bool inUse(const fs::path& stage) {
    return !Processes::runningInside(stage).empty();
}

// A downloaded package ("UUID.zip", "UUID.hex") or an unfinished atomic write of one (".UUID.zip.XXXXXX").
bool isDownload(const fs::path& file) {
    const auto name = file.filename().string();
    return name.ends_with(".zip") || name.ends_with(".hex") ||
           (name.starts_with('.') &&
            (name.find(".zip.") != std::string::npos || name.find(".hex.") != std::string::npos));
}

std::string lastFailure(const fs::path& updatesDirectory) {
    std::ifstream log(updatesDirectory / "install.log");
    std::string line, reason;
    while (std::getline(log, line)) {
        if (line.starts_with(failedPrefix)) {
            reason = line.substr(failedPrefix.size());
        }
    }
    return reason;
}

std::string versionOf(const fs::path& app) {
    try {
        const auto info = PropertyList::read(app / Bundle::infoPlist);
        return info ? info->string("CFBundleShortVersionString").value_or("") : "";
    } catch (const std::exception&) {
        return "";
    }
}

void tidyDownloads(const fs::path& directory) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        std::error_code kind;
        if (entry.is_regular_file(kind) && isDownload(entry.path()) && olderThanGrace(entry.path())) {
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}

} // namespace

std::optional<RolledBack> tidy(const fs::path& updatesDirectory, const std::optional<fs::path>& target) {
    tidyDownloads(updatesDirectory);
    if (!target) {
        return std::nullopt;
    }
    std::optional<RolledBack> rolledBack;
    const bool targetIsBundle = present(*target / Bundle::infoPlist);
    std::vector<std::pair<fs::file_time_type, fs::path>> completed;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(target->parent_path(), error)) {
        const auto& stage = entry.path();
        std::error_code kind;
        if (!stage.filename().string().starts_with(NativeInstaller::stagePrefix) || !entry.is_directory(kind) ||
            entry.is_symlink(kind)) {
            continue;
        }
        const bool previous = present(stage / "previous.app");
        const bool failed = present(stage / "failed.app");
        if (previous && (failed || !targetIsBundle)) {
            continue; // previous.app may be the only client left: its place is in the install log
        }
        if (previous) {
            std::error_code time;
            completed.emplace_back(fs::last_write_time(stage, time), stage);
            continue;
        }
        if (failed) {
            if (!rolledBack && !present(stage / reportedMarker)) {
                rolledBack = RolledBack{versionOf(stage / "failed.app"), lastFailure(updatesDirectory)};
            }
            if (inUse(stage)) {
                std::ofstream(stage / reportedMarker).put('\n');
            } else {
                removeTree(stage);
            }
            continue;
        }
        if (olderThanGrace(stage) && !inUse(stage)) {
            removeTree(stage);
        }
    }
    std::sort(completed.begin(), completed.end());
    if (!completed.empty()) {
        completed.pop_back(); // the newest stays, with the client it replaced
    }
    for (const auto& [time, stage] : completed) {
        if (!inUse(stage)) {
            removeTree(stage);
        }
    }
    return rolledBack;
}

} // namespace quelmar::Leftovers
