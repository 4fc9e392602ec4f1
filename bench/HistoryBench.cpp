#include "SimulatedYear.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"

#include <chrono>
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

using namespace quelmar;
using namespace quelmar::bench;

namespace {

// What the caller's thread pays to record one sample: the recorder's thread writes meanwhile.
void recordSample(benchmark::State& state) {
    Folder folder;
    HistoryRecorder recorder({folder.path / "history.sqlite", {}});
    const auto sample = telemetry(0);
    recorder.flush();
    std::int64_t n = 0;
    for (auto _ : state) {
        recorder.record(board, sample);
        if (++n % 1000 == 0) {
            state.PauseTiming();
            recorder.flush();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(n);
}
BENCHMARK(recordSample)->Unit(benchmark::kMicrosecond);

// A chart's span from a full year (target for 30 days: well under 100 ms, so the page draws it in time).
void querySpan(benchmark::State& state) {
    const auto& built = year();
    HistoryStore store(built.file);
    const auto span = static_cast<RecentSpan>(state.range(0));
    std::size_t points = 0, outages = 0;
    for (auto _ : state) {
        const auto result = store.recent(span, board, now);
        points = result.points.size();
        outages = result.outages.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["outages"] = static_cast<double>(outages);
}
BENCHMARK(querySpan)
    ->Arg(static_cast<int>(RecentSpan::lastHour))
    ->Arg(static_cast<int>(RecentSpan::last24Hours))
    ->Arg(static_cast<int>(RecentSpan::last7Days))
    ->Arg(static_cast<int>(RecentSpan::last30Days))
    ->Unit(benchmark::kMillisecond);

// The file after a year (target: under 200 MB), and how long the simulation took.
void simulatedYear(benchmark::State& state) {
    const auto& built = year();
    for (auto _ : state) {
        benchmark::DoNotOptimize(built.bytes);
    }
    state.counters["MB"] = static_cast<double>(built.bytes) / 1e6;
    state.counters["build_s"] = built.buildSeconds;
}
BENCHMARK(simulatedYear)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
