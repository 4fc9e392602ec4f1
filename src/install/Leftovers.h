#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

// What earlier client updates left behind, tidied when a client starts.
namespace quelmar::Leftovers {

// An update the installer rolled back, seen by the restored client.
struct RolledBack {
    std::string version; // the version that failed to start, or empty when unknown
    std::string reason;  // the installer log's failure, or empty when unknown
};

// Files of running work are never touched: a download or a fresh stage is left alone for this long.
inline constexpr std::chrono::minutes grace{10};

// Removes from the updates directory the downloaded packages (and unfinished writes) older than the grace, and
// beside target the staging directories that no process runs from and that nobody needs any more:
//  - an unfinished stage (no previous.app, no failed.app) once older than the grace;
//  - a rolled-back stage (failed.app, the old client restored); it is reported once, as the result;
//  - of the completed installs (previous.app beside a target that is a bundle), all but the newest.
// A stage whose previous.app may be the only copy of the client (the target missing, or a rollback that could not
// restore it) is always kept. Nothing here fails: what cannot be removed stays.
std::optional<RolledBack> tidy(const std::filesystem::path& updatesDirectory,
                               const std::optional<std::filesystem::path>& target);

} // namespace quelmar::Leftovers
