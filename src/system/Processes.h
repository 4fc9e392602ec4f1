#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/types.h>

namespace quelmar::Processes {

// posix_spawn file actions; adding one that cannot be recorded throws std::system_error.
class FileActions {
public:
    FileActions();
    ~FileActions();
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    FileActions& duplicate(int fd, int to);
    FileActions& open(int fd, const char* path, int flags);
    FileActions& changeDirectory(const char* path);
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Starts the program with these file actions and attributes (attributes may be null), argument 0 being its
// path, in this process's environment or, when given, in `environment` ("NAME=value" entries). Throws
// std::system_error naming the program when it cannot be started.
pid_t spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
            const FileActions& actions, const posix_spawnattr_t* attributes = nullptr,
            const std::vector<std::string>* environment = nullptr);

// Waits for the process to end and returns its wait status. Throws std::system_error when it cannot be waited for.
int wait(pid_t pid);

// Starts the program in a new session with standard input, output and error on /dev/null, in "/", and does
// not wait for it. Throws std::system_error when it cannot be started.
pid_t startDetached(const std::filesystem::path& executable, const std::vector<std::string>& arguments);

// Whether a signal-0 probe of the process succeeds.
bool isRunning(pid_t pid);

// The processes of this user whose executable lies inside directory (this one excluded).
std::vector<pid_t> runningInside(const std::filesystem::path& directory);

// Sends SIGTERM to every process of this user whose executable lies inside directory; returns how many.
int terminateInside(const std::filesystem::path& directory);

} // namespace quelmar::Processes
