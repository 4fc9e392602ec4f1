#include "install/Command.h"

#include "core/ToolFailure.h"
#include "core/UTF8.h"
#include "install/Processes.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quelmar::Command {

std::string run(const std::string& executable, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    pid_t pid = 0;
    try {
        pid = Processes::spawn(executable, arguments, actions, nullptr);
    } catch (...) {
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        throw;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);

    // Read to the end before waiting, so that a tool with much output never blocks on a full pipe.
    std::string output;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!isValidUTF8(output)) {
        output.clear();
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw toolFailure(std::filesystem::path(executable).filename().string(), output);
    }
    return output;
}

} // namespace quelmar::Command
