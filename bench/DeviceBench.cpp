// The cost of the device path over the emulated board, and of a whole --probe process with no board.
#include "device/HIDSession.h"
#include "device/emulator/EmulatedPlatform.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace quelmar;

void discoveryPass(benchmark::State& state) {
    EmulatedPlatform platform({BoardDescription::standard()});
    for (auto _ : state) {
        benchmark::DoNotOptimize(HIDSession::discover(platform));
    }
}
BENCHMARK(discoveryPass);

void fullReportSample(benchmark::State& state) {
    EmulatedPlatform platform({BoardDescription::standard()});
    HIDSession session(platform);
    session.connect(HIDSession::discover(platform).at(0).id);
    for (auto _ : state) {
        benchmark::DoNotOptimize(session.snapshot());
    }
}
BENCHMARK(fullReportSample);

void legacySample(benchmark::State& state) {
    auto board = BoardDescription::standard();
    board.software = {1, 0, 7};
    EmulatedPlatform platform({board});
    HIDSession session(platform);
    session.connect(HIDSession::discover(platform).at(0).id);
    for (auto _ : state) {
        benchmark::DoNotOptimize(session.snapshot());
    }
}
BENCHMARK(legacySample);

// Runs `quelmar --probe` to its end with the environment's QUELMAR_SIMULATOR replaced by simulator
// (removed when empty), its output sent to /dev/null.
void runProbe(const std::string& simulator) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("QUELMAR_SIMULATOR=", 0) != 0) {
            environment.emplace_back(*e);
        }
    }
    if (!simulator.empty()) {
        environment.push_back("QUELMAR_SIMULATOR=" + simulator);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = QUELMAR_EXECUTABLE, option = "--probe";
    char* argv[] = {program.data(), option.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("--probe failed");
    }
}

// Real HID access on a machine without a board: the target is under 20 ms.
void probeProcessNoBoard(benchmark::State& state) {
    for (auto _ : state) {
        runProbe("");
    }
}
BENCHMARK(probeProcessNoBoard)->Unit(benchmark::kMillisecond)->UseRealTime();

void probeProcessEmptyEmulator(benchmark::State& state) {
    for (auto _ : state) {
        runProbe(QUELMAR_BOARDS "/none.json");
    }
}
BENCHMARK(probeProcessEmptyEmulator)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
