// The UPS network endpoint on loopback: the answer time of LIST VAR (target: under 1 ms), and 100 clients polling it
// every second while the caller publishes state (publishing must never wait on the clients, nor the clients slip).
#include "Loopback.h"
#include "core/UPSVariables.h"
#include "network/UPSServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace quelmar;
using Clock = std::chrono::steady_clock;

const std::string listVar = "LIST VAR quelmar\n";
const std::string listEnd = "END LIST VAR quelmar\n";

UPSState boardState(std::int64_t status) {
    const Snapshot s{.capacity = 87,
                     .runtime = 9120,
                     .batteryVoltage = 12.18,
                     .batteryCurrent = -0.85,
                     .temperature = 29.5,
                     .inputVoltage = 12.04,
                     .inputCurrent = 2.1,
                     .output5Voltage = 5.02,
                     .output5Current = 0.8,
                     .output12Voltage = 12.01,
                     .output12Current = 0.45,
                     .load = 18,
                     .status = status};
    return UPSState::of({"Quelmar DC UPS", "QM2A000172", DeviceInfo("1.2", "1.0.8")}, s, false, "2.0.1");
}

std::unique_ptr<UPSServer> server() {
    UPSServerOptions options;
    options.listen = {ListenAddress::parse("127.0.0.1:0")};
    options.endpoint.version = "Quelmar 2.0.1";
    auto out = std::make_unique<UPSServer>(options);
    out->publish(boardState(0x43));
    return out;
}

// Whether received ends with a whole LIST VAR reply.
bool complete(const std::string& received) {
    return received.size() >= listEnd.size() &&
           received.compare(received.size() - listEnd.size(), listEnd.size(), listEnd) == 0;
}

// One request and its whole reply, from the client's side of a kept connection.
void listVarAnswer(benchmark::State& state) {
    const auto endpoint = server();
    const int fd = quelmar::bench::connectToLoopback(endpoint->ports()[0]);
    std::string received;
    char buffer[8192];
    for (auto _ : state) {
        received.clear();
        ::send(fd, listVar.data(), listVar.size(), MSG_NOSIGNAL);
        while (!complete(received)) {
            const auto n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                state.SkipWithError("connection lost");
                break;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }
    state.counters["reply_bytes"] = static_cast<double>(received.size());
    ::close(fd);
}
BENCHMARK(listVarAnswer)->UseRealTime()->Unit(benchmark::kMicrosecond);

// 100 kept connections, each sending LIST VAR once a second (spread over the second) and timing its reply, while
// the caller publishes a new state every millisecond and times each publish.
void hundredClientsPolling(benchmark::State& state) {
    constexpr int clients = 100;
    constexpr auto run = std::chrono::seconds(5);
    const auto endpoint = server();

    for (auto _ : state) {
        std::vector<int> fds;
        for (int i = 0; i < clients; ++i) {
            fds.push_back(quelmar::bench::connectToLoopback(endpoint->ports()[0]));
        }
        std::atomic<bool> done = false;
        std::vector<double> answers; // microseconds
        std::thread polling([&] {
            std::vector<Clock::time_point> due(clients), sent(clients);
            std::vector<std::string> received(clients);
            const auto start = Clock::now();
            for (int i = 0; i < clients; ++i) {
                due[i] = start + std::chrono::milliseconds(10 * i);
            }
            std::vector<pollfd> p(clients);
            char buffer[8192];
            while (!done) {
                const auto now = Clock::now();
                for (int i = 0; i < clients; ++i) {
                    if (now >= due[i]) {
                        ::send(fds[i], listVar.data(), listVar.size(), MSG_NOSIGNAL);
                        sent[i] = now;
                        due[i] += std::chrono::seconds(1);
                    }
                    p[i] = {fds[i], POLLIN, 0};
                }
                if (::poll(p.data(), p.size(), 1) <= 0) {
                    continue;
                }
                for (int i = 0; i < clients; ++i) {
                    if (!(p[i].revents & POLLIN)) {
                        continue;
                    }
                    const auto n = ::recv(fds[i], buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n > 0) {
                        received[i].append(buffer, static_cast<std::size_t>(n));
                    }
                    if (complete(received[i])) {
                        answers.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent[i]).count());
                        received[i].clear();
                    }
                }
            }
        });

        std::vector<double> publishes; // microseconds
        const auto end = Clock::now() + run;
        for (std::int64_t k = 0; Clock::now() < end; ++k) {
            auto next = boardState(k % 2 ? 0x43 : 0x44);
            const auto before = Clock::now();
            endpoint->publish(std::move(next));
            publishes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
        polling.join();
        for (const int fd : fds) {
            ::close(fd);
        }

        std::sort(publishes.begin(), publishes.end());
        std::sort(answers.begin(), answers.end());
        const auto at = [](const std::vector<double>& v, double q) {
            return v.empty() ? 0.0 : v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
        };
        state.counters["publish_p50_us"] = at(publishes, 0.5);
        state.counters["publish_p99_us"] = at(publishes, 0.99);
        state.counters["publish_max_us"] = publishes.empty() ? 0 : publishes.back();
        state.counters["answers"] = static_cast<double>(answers.size());
        state.counters["answer_p50_us"] = at(answers, 0.5);
        state.counters["answer_p99_us"] = at(answers, 0.99);
        state.counters["answer_max_us"] = answers.empty() ? 0 : answers.back();
    }
}
BENCHMARK(hundredClientsPolling)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
