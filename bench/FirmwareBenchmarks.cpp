// Parse and CRC of a full-area HEX file, and the client side of the IAP sequence with a command that does
// no I/O. Exchange figures are per packet of the sequence (1,477, of which 1,476 await a reply).
#include "HexText.h"
#include "core/CRC32.h"
#include "core/FirmwareImage.h"
#include "core/IAP.h"

#include <string>

#include <benchmark/benchmark.h>

using namespace quelmar;

namespace {

// 16 data bytes per record, as objcopy and most toolchains write them: 2,808 data lines.
const std::string& fullAreaHex() {
    static const std::string text =
        test::intelHex(static_cast<std::uint32_t>(FirmwareImage::start), test::patternBytes(FirmwareImage::areaSize));
    return text;
}

void ParseAndCRCFullArea(benchmark::State& state) {
    const auto& text = fullAreaHex();
    for (auto _ : state) {
        const FirmwareImage image(text);
        benchmark::DoNotOptimize(image.crc32());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(ParseAndCRCFullArea)->Unit(benchmark::kMillisecond);

void ParseFullArea(benchmark::State& state) {
    const auto& text = fullAreaHex();
    for (auto _ : state) {
        const FirmwareImage image(text);
        benchmark::DoNotOptimize(image.bytes().data());
    }
}
BENCHMARK(ParseFullArea)->Unit(benchmark::kMillisecond);

void CRC32FullArea(benchmark::State& state) {
    const auto bytes = test::patternBytes(FirmwareImage::areaSize);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CRC32::compute(bytes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(CRC32FullArea)->Unit(benchmark::kMicrosecond);

void reportExchanges(benchmark::State& state, std::size_t exchanges) {
    state.counters["per_exchange"] = benchmark::Counter(static_cast<double>(state.iterations() * exchanges),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The sequence alone: chunking, progress calls, the seal with its CRC.
void FlashNoOpCommand(benchmark::State& state) {
    const FirmwareImage image(fullAreaHex());
    std::size_t exchanges = 0;
    for (auto _ : state) {
        exchanges = 0;
        IAP::flash(
            image,
            [&](std::uint8_t code, ByteView payload, bool) {
                benchmark::DoNotOptimize(code);
                benchmark::DoNotOptimize(payload.data());
                ++exchanges;
            },
            [](double fraction, const std::string& text) {
                benchmark::DoNotOptimize(fraction);
                benchmark::DoNotOptimize(text.data());
            });
    }
    reportExchanges(state, exchanges);
}
BENCHMARK(FlashNoOpCommand)->Unit(benchmark::kMicrosecond);

// As a transport does it: every exchange also builds its 64-byte packet.
void FlashBuildingPackets(benchmark::State& state) {
    const FirmwareImage image(fullAreaHex());
    std::size_t exchanges = 0;
    for (auto _ : state) {
        exchanges = 0;
        IAP::flash(
            image,
            [&](std::uint8_t code, ByteView payload, bool) {
                const auto packet = IAP::packet(code, payload);
                benchmark::DoNotOptimize(packet.data());
                ++exchanges;
            },
            [](double fraction, const std::string&) { benchmark::DoNotOptimize(fraction); });
    }
    reportExchanges(state, exchanges);
}
BENCHMARK(FlashBuildingPackets)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
