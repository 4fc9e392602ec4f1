#include "system/Processes.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quelmar::Processes {

namespace fs = std::filesystem;

namespace {

void check(int result, const char* call) {
    if (result != 0) {
        throw std::system_error(result, std::generic_category(), call);
    }
}

// posix_spawn does not write through these.
std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const auto& s : strings) {
        out.push_back(const_cast<char*>(s.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

FileActions::FileActions() {
    check(::posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init");
}

FileActions::~FileActions() {
    ::posix_spawn_file_actions_destroy(&actions_);
}

FileActions& FileActions::duplicate(int fd, int to) {
    check(::posix_spawn_file_actions_adddup2(&actions_, fd, to), "posix_spawn_file_actions_adddup2");
    return *this;
}

FileActions& FileActions::open(int fd, const char* path, int flags) {
    check(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0), "posix_spawn_file_actions_addopen");
    return *this;
}

FileActions& FileActions::changeDirectory(const char* path) {
    check(::posix_spawn_file_actions_addchdir_np(&actions_, path), "posix_spawn_file_actions_addchdir_np");
    return *this;
}

pid_t spawn(const fs::path& executable, const std::vector<std::string>& arguments, const FileActions& actions,
            const posix_spawnattr_t* attributes, const std::vector<std::string>* environment) {
    std::vector<std::string> argv{executable.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto argumentPointers = pointers(argv);
    const auto environmentPointers = environment != nullptr ? pointers(*environment) : std::vector<char*>();

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes, argumentPointers.data(),
                                      environment != nullptr ? environmentPointers.data() : environ);
    if (spawned != 0) {
        throw std::system_error(spawned, std::generic_category(), executable.string());
    }
    return pid;
}

int wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    return status;
}

pid_t startDetached(const fs::path& executable, const std::vector<std::string>& arguments) {
    FileActions actions;
    actions.open(STDIN_FILENO, "/dev/null", O_RDONLY)
        .open(STDOUT_FILENO, "/dev/null", O_WRONLY)
        .open(STDERR_FILENO, "/dev/null", O_WRONLY)
        .changeDirectory("/");
    posix_spawnattr_t attributes;
    check(::posix_spawnattr_init(&attributes), "posix_spawnattr_init");
    const struct Destroy {
        posix_spawnattr_t* attributes;
        ~Destroy() { ::posix_spawnattr_destroy(attributes); }
    } destroy{&attributes};
    check(::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID), "posix_spawnattr_setflags");
    return spawn(executable, arguments, actions, &attributes);
}

bool isRunning(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

std::vector<pid_t> runningInside(const fs::path& directory) {
    const std::string prefix = directory.lexically_normal().string() + "/";
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed != std::errc() || end != name.data() + name.size() || pid == ::getpid()) {
            continue;
        }
        std::error_code linkError;
        // Unreadable for other users' processes, so only this user's are found.
        const auto executable = fs::read_symlink(entry.path() / "exe", linkError);
        if (!linkError && executable.string().starts_with(prefix)) {
            found.push_back(pid);
        }
    }
    return found;
}

int terminateInside(const fs::path& directory) {
    int count = 0;
    for (const auto pid : runningInside(directory)) {
        if (::kill(pid, SIGTERM) == 0) {
            ++count;
        }
    }
    return count;
}

} // namespace quelmar::Processes
