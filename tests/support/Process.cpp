#include "Process.h"

#include "system/Processes.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quelmar::test {

namespace {

std::vector<std::string> buildEnvironment(const ProcessOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& name : options.unsetEnv) {
        env.erase(name);
    }
    for (const auto& [name, value] : options.setEnv) {
        env[name] = value;
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : env) {
        out.push_back(name + "=" + value);
    }
    return out;
}

struct Spawned {
    pid_t pid;
    int out; // read ends, the caller's to close
    int err;
};

// Starts the process with its standard output and error on pipes and its input from /dev/null.
Spawned spawnPiped(const std::string& executable, const std::vector<std::string>& arguments,
                   const ProcessOptions& options) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    Processes::FileActions actions;
    actions.duplicate(outPipe[1], STDOUT_FILENO)
        .duplicate(errPipe[1], STDERR_FILENO)
        .open(STDIN_FILENO, "/dev/null", O_RDONLY);
    if (options.workingDirectory) {
        actions.changeDirectory(options.workingDirectory->c_str());
    }
    const auto environment = buildEnvironment(options);
    pid_t pid = 0;
    try {
        pid = Processes::spawn(executable, arguments, actions, nullptr, &environment);
    } catch (...) {
        for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            close(fd);
        }
        throw;
    }
    close(outPipe[1]);
    close(errPipe[1]);
    return {pid, outPipe[0], errPipe[0]};
}

} // namespace

ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const auto [pid, out, err] = spawnPiped(executable, arguments, options);

    ProcessResult result;
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto waited = std::chrono::steady_clock::now() - started;
        if (!killed && waited > options.timeout) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 100) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    const int status = Processes::wait(pid);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

RunningProcess::RunningProcess(const std::string& executable, const std::vector<std::string>& arguments,
                               const ProcessOptions& options) {
    const auto spawned = spawnPiped(executable, arguments, options);
    pid_ = spawned.pid;
    out_ = spawned.out;
    err_ = spawned.err;
}

RunningProcess::~RunningProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Processes::wait(pid_);
    }
    for (const int fd : {out_, err_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool RunningProcess::pump(std::chrono::milliseconds wait) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) {
        return false;
    }
    if (poll(fds, 2, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    int* ends[2] = {&out_, &err_};
    std::string* sinks[2] = {&outBuffer_, &errBuffer_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                *ends[i] = -1;
            }
        }
    }
    return true;
}

std::optional<std::string> RunningProcess::line(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (outBuffer_.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0 || !pump(left)) {
            return std::nullopt;
        }
    }
    const auto end = outBuffer_.find('\n');
    auto out = outBuffer_.substr(0, end);
    outBuffer_.erase(0, end + 1);
    return out;
}

std::optional<std::vector<std::string>> RunningProcess::linesUntil(const std::string& text,
                                                                   std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<std::string> seen;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto next = left.count() > 0 ? line(left) : std::nullopt;
        if (!next) {
            return std::nullopt;
        }
        seen.push_back(*next);
        if (next->find(text) != std::string::npos) {
            return seen;
        }
    }
}

void RunningProcess::signal(int number) {
    kill(pid_, number);
}

ProcessResult RunningProcess::finish(std::chrono::seconds timeout) {
    const auto started = std::chrono::steady_clock::now();
    bool killed = false;
    while (pump(std::chrono::milliseconds(100))) {
        if (!killed && std::chrono::steady_clock::now() - started > timeout) {
            kill(pid_, SIGKILL);
            killed = true;
        }
    }
    const int status = Processes::wait(pid_);
    pid_ = -1;
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = std::move(outBuffer_);
    result.err = std::move(errBuffer_);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return result;
}

void runChecked(const std::string& executable, const std::vector<std::string>& arguments) {
    const auto result = runProcess(executable, arguments);
    if (result.status != 0) {
        throw std::runtime_error(executable + " failed (" + std::to_string(result.status) + "): " + result.out +
                                 result.err);
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto end = text.find('\n', begin);
        if (end == std::string::npos) {
            out.push_back(text.substr(begin));
            break;
        }
        out.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return out;
}

} // namespace quelmar::test
