#include "install/Processes.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace quelmar::Processes {

namespace fs = std::filesystem;

pid_t spawn(const fs::path& executable, const std::vector<std::string>& arguments,
            const posix_spawn_file_actions_t& actions, const posix_spawnattr_t* attributes) {
    std::vector<std::string> argv{executable.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, executable.c_str(), &actions, attributes, pointers.data(), environ);
    if (spawned != 0) {
        throw std::system_error(spawned, std::generic_category(), executable.string());
    }
    return pid;
}

pid_t startDetached(const fs::path& executable, const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    try {
        const pid_t pid = spawn(executable, arguments, actions, &attributes);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    } catch (...) {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        throw;
    }
}

bool isRunning(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

int terminateInside(const fs::path& directory) {
    const std::string prefix = directory.lexically_normal().string() + "/";
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed != std::errc() || end != name.data() + name.size() || pid == ::getpid()) {
            continue;
        }
        std::error_code linkError;
        // Unreadable for other users' processes, so only this user's are signalled.
        const auto executable = fs::read_symlink(entry.path() / "exe", linkError);
        if (linkError || !executable.string().starts_with(prefix)) {
            continue;
        }
        if (::kill(pid, SIGTERM) == 0) {
            ++count;
        }
    }
    return count;
}

} // namespace quelmar::Processes
