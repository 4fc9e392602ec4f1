#pragma once

#include "history/HistoryRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

namespace quelmar::HistoryFile {

// $XDG_DATA_HOME/quelmar/history.sqlite, with ~/.local/share when XDG_DATA_HOME is unset or not absolute.
std::filesystem::path defaultPath();

// Creates the file's folder, private to the user, when it is missing. Throws std::filesystem::filesystem_error.
void createFolder(const std::filesystem::path& file);

// Device and inode of the file at path, none when there is none: tells whether another process has set it aside
// and started a new one since this one opened it.
using Identity = std::pair<std::uint64_t, std::uint64_t>;
std::optional<Identity> identityOf(const std::filesystem::path& path);

// Renames the file and its -wal and -shm companions to "<name>.corrupt-<UTC time>" (with a number added if that is
// taken), so a damaged history is kept for inspection and never deleted. Returns the new name of the file.
// Throws std::filesystem::filesystem_error.
std::filesystem::path setAside(const std::filesystem::path& file, HistoryTime now);

} // namespace quelmar::HistoryFile
