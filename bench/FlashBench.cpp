// A full-area flash against the emulated bootloader: with an instant board, what each exchange costs the
// client (the emulator's own work included, so an upper bound); with 1 ms per transfer, how close the whole
// flash comes to the device-bound time of 1,476 awaited exchanges × 2 transfers.
#include "HexText.h"
#include "core/FirmwareImage.h"
#include "device/HIDSession.h"
#include "device/emulator/EmulatedPlatform.h"

#include <chrono>
#include <string>

#include <benchmark/benchmark.h>

using namespace quelmar;

namespace {

constexpr double awaitedExchanges = 1476;

const FirmwareImage& fullAreaImage() {
    static const FirmwareImage image(
        test::intelHex(static_cast<std::uint32_t>(FirmwareImage::start), test::patternBytes(FirmwareImage::areaSize)));
    return image;
}

void flashFullArea(benchmark::State& state, std::int64_t delayMilliseconds) {
    auto board = BoardDescription::standard();
    board.bootloader = true;
    board.restartMilliseconds = 0;
    board.faults.delayMilliseconds = delayMilliseconds;
    EmulatedPlatform platform({board});
    const auto id = HIDSession::discover(platform).at(0).id;
    const auto& image = fullAreaImage();
    HIDSession session(platform);

    double seconds = 0;
    for (auto _ : state) {
        session.connect(id);
        const auto start = std::chrono::steady_clock::now();
        session.flash(image, [](double fraction, const std::string&) { benchmark::DoNotOptimize(fraction); });
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(took);
        seconds += took;
        if (platform.withBoard(0, &EmulatedBoard::storedImage) != image.bytes()) {
            state.SkipWithError("the board does not hold the image");
            break;
        }
        platform.withBoard(0, [](EmulatedBoard& b) { b.restartInto(BoardMode::bootloader); });
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["us_per_exchange"] = seconds * 1e6 / (iterations * awaitedExchanges);
    if (delayMilliseconds > 0) {
        const double deviceBound = awaitedExchanges * 2 * static_cast<double>(delayMilliseconds) / 1000;
        state.counters["vs_device_bound"] = seconds / iterations / deviceBound;
    }
}

// Target: under 20 µs per exchange.
BENCHMARK_CAPTURE(flashFullArea, noLatency, 0)->UseManualTime()->Unit(benchmark::kMillisecond);
// Target: within 5 % of 1,476 × 2 ms (vs_device_bound under 1.05).
BENCHMARK_CAPTURE(flashFullArea, oneMillisecondPerTransfer, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

BENCHMARK_MAIN();
