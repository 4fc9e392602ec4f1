#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/types.h>

namespace quelmar::Processes {

// Starts the program with these file actions and attributes (attributes may be null), argument 0 being its
// path. Throws std::system_error naming the program when it cannot be started.
pid_t spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
            const posix_spawn_file_actions_t& actions, const posix_spawnattr_t* attributes);

// Starts the program in a new session with standard input, output and error on /dev/null, in "/", and does
// not wait for it. Throws std::system_error when it cannot be started.
pid_t startDetached(const std::filesystem::path& executable, const std::vector<std::string>& arguments);

// Whether a signal-0 probe of the process succeeds.
bool isRunning(pid_t pid);

// Sends SIGTERM to every process of this user whose executable lies inside directory; returns how many.
int terminateInside(const std::filesystem::path& directory);

} // namespace quelmar::Processes
