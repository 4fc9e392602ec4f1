// quelmar --watch on the emulated board with its endpoint on loopback: first alone, then with 100 clients each asking
// for ups.status once a second (as upsmon does), staggered over the second. Prints the time between samples as the
// monitor prints them (its poll loop: one pass and a one-second pause) in both phases, and the clients' answer times.
// Usage: bench_watch_clients [SECONDS per phase, default 30]
#include "Loopback.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int clientCount = 100;

// The monitor as a child process whose standard output is read line by line.
class Monitor {
public:
    Monitor() {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        ::setenv("QUELMAR_SIMULATOR", "1", 1);
        std::string program = QUELMAR_EXECUTABLE;
        std::vector<std::string> arguments = {program, "--watch", "--json", "--no-history", "--listen", "127.0.0.1:0"};
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("cannot start " + program);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~Monitor() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        ::close(out_);
    }

    int descriptor() const { return out_; }
    // Complete lines that have arrived, each with the time it was read.
    std::vector<std::string> read() {
        char chunk[65536];
        const auto n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            throw std::runtime_error("the monitor ended");
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        std::vector<std::string> lines;
        for (auto end = buffer_.find('\n'); end != std::string::npos; end = buffer_.find('\n')) {
            lines.push_back(buffer_.substr(0, end));
            buffer_.erase(0, end + 1);
        }
        return lines;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

struct Client {
    int fd = -1;
    Clock::time_point nextAsk;
    Clock::time_point asked;
    bool waiting = false;
    std::string in;
};

void summary(const char* what, std::vector<double> values, const char* unit) {
    if (values.empty()) {
        std::printf("%s: none\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    const auto at = [&](double q) {
        return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
    };
    std::printf("%s (%zu): mean %.3f, min %.3f, median %.3f, p99 %.3f, max %.3f %s\n", what, values.size(), mean,
                values.front(), at(0.5), at(0.99), values.back(), unit);
}

} // namespace

int main(int argc, char** argv) {
    const auto phase = std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 30);
    Monitor monitor;
    std::uint16_t port = 0;
    std::vector<Clock::time_point> samples;
    std::vector<Client> clients;
    std::vector<double> answers;
    Clock::time_point phaseEnd = Clock::time_point::max();
    std::vector<double> alone, polled;
    const auto intervals = [&samples] {
        std::vector<double> out;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            out.push_back(Milliseconds(samples[i] - samples[i - 1]).count());
        }
        return out;
    };

    while (true) {
        std::vector<pollfd> fds{{monitor.descriptor(), POLLIN, 0}};
        for (const auto& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        ::poll(fds.data(), fds.size(), 5);
        const auto now = Clock::now();
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            for (const auto& line : monitor.read()) {
                if (line.find(R"("type":"listening")") != std::string::npos) {
                    const auto at = line.find("127.0.0.1:") + 10;
                    port = static_cast<std::uint16_t>(std::stoi(line.substr(at)));
                } else if (line.find(R"("type":"sample")") != std::string::npos) {
                    samples.push_back(now);
                    if (phaseEnd == Clock::time_point::max()) {
                        phaseEnd = now + phase; // the first phase starts with the first sample
                    }
                }
            }
        }
        if (now >= phaseEnd) {
            if (clients.empty()) {
                alone = intervals();
                samples.clear();
                for (int i = 0; i < clientCount; ++i) {
                    // Spread over the second, as independent machines would be.
                    Client client;
                    client.fd = quelmar::bench::connectToLoopback(port);
                    client.nextAsk = now + std::chrono::milliseconds(i * 1000 / clientCount);
                    clients.push_back(std::move(client));
                }
                phaseEnd = now + phase;
            } else {
                polled = intervals();
                break;
            }
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            auto& client = clients[i];
            if (i + 1 < fds.size() && (fds[i + 1].revents & POLLIN)) {
                char chunk[4096];
                const auto n = ::recv(client.fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    throw std::runtime_error("the endpoint closed client " + std::to_string(i) + ": " +
                                             (n == 0 ? "end of stream" : std::strerror(errno)));
                }
                client.in.append(chunk, static_cast<std::size_t>(n));
                if (client.waiting && client.in.find('\n') != std::string::npos) {
                    answers.push_back(Milliseconds(Clock::now() - client.asked).count());
                    client.waiting = false;
                    client.in.clear();
                }
            }
            if (!client.waiting && now >= client.nextAsk) {
                const std::string request = "GET VAR quelmar ups.status\n";
                client.asked = Clock::now();
                client.waiting = true;
                client.nextAsk += std::chrono::seconds(1);
                ::send(client.fd, request.data(), request.size(), MSG_NOSIGNAL);
            }
        }
    }
    for (const auto& client : clients) {
        ::close(client.fd);
    }
    std::printf("quelmar --watch on the emulated board, %lld s per phase\n", static_cast<long long>(phase.count()));
    summary("time between samples, no client", alone, "ms");
    summary("time between samples, 100 clients each polling once a second", polled, "ms");
    summary("GET VAR ups.status answer time", answers, "ms");
    return 0;
}
