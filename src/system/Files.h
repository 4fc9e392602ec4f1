#pragma once

#include "core/Bytes.h"
#include "system/Descriptor.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quelmar::Files {

// Reads the descriptor to its end, handing each block read to take, and stops early when take returns false.
// Interrupted reads are retried; a failed read throws std::system_error naming `name`.
void readToEnd(int fd, const std::function<bool(ByteView)>& take, const std::string& name);

// Writes all of content, retrying interrupted and partial writes. Throws std::system_error naming `name`.
void writeAll(int fd, ByteView content, const std::string& name);

// The whole file, or none when it holds more than maxSize bytes (found out before reading it all).
// Throws std::system_error naming the file.
std::optional<Bytes> readUpTo(const std::filesystem::path& path, std::uint64_t maxSize, bool followLinks = true);

// A new file written beside path under a temporary name, which takes path's name only at commit(), so that readers
// see the old file or the whole new one. Uncommitted, the temporary file is removed when the object goes.
// Throws std::system_error naming path (the temporary name means nothing to a person); the directory must be open
// for reading, so that the rename can be flushed too.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path path, unsigned mode = 0644);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // The temporary file, open for writing; it stays open until commit().
    int descriptor() const { return file_.get(); }
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    // Flushes the file to disk, renames it to path and flushes the directory. Without replace, an existing file at
    // path stays and commit throws (EEXIST).
    void commit(bool replace = true);

private:
    std::filesystem::path path_;
    std::filesystem::path temporary_;
    Descriptor directory_;
    Descriptor file_;
    bool committed_ = false;
};

// One AtomicFile with this content: writeAtomically replaces path, writeNewFile never does.
void writeAtomically(const std::filesystem::path& path, ByteView content, unsigned mode = 0644);
void writeAtomically(const std::filesystem::path& path, std::string_view content, unsigned mode = 0644);
void writeNewFile(const std::filesystem::path& path, std::string_view content, unsigned mode);

// The permission bits of the file at path (links followed), or fallback when there is none.
unsigned modeOr(const std::filesystem::path& path, unsigned fallback);

// The file's bytes when it is a regular file that can be read and holds exactly size bytes; otherwise none.
std::optional<Bytes> readFileOfSize(const std::filesystem::path& path, std::int64_t size);

// $HOME, else the password database's entry. Throws std::runtime_error when neither names one.
std::filesystem::path homeDirectory();

// The per-user directory of downloaded packages, the chunk cache and the installer's log.
inline constexpr std::string_view updatesDirectoryName = ".vetrola/native-updates";
std::filesystem::path updatesDirectory();

// Absolute, "." and ".." removed lexically, no trailing separator; links are not resolved.
std::filesystem::path standardized(const std::filesystem::path& path);

} // namespace quelmar::Files
