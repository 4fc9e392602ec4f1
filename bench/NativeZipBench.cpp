#include "ZipBuilder.h"
#include "core/NativeZip.h"

#include <string>

#include <benchmark/benchmark.h>

using namespace quelmar;

namespace {

// The largest archive the validator accepts: 19,999 small entries under the bundle, in nested directories.
Bytes largestArchive(const std::string& stem) {
    test::ZipBuilder builder;
    for (std::uint32_t i = 0; i < NativeZip::maxEntries; ++i) {
        const auto name = "Quelmar_Monitor.app/Contents/Resources/" + std::to_string(i % 97) + "/" + stem +
                          std::to_string(i) + ".dat";
        builder.add(test::ZipEntry(name, "0123456789abcdef").method(8).uncompressedSize(4096));
    }
    return builder.build();
}

void validateAsciiNames(benchmark::State& state) {
    const Bytes archive = largestArchive("resource-");
    for (auto _ : state) {
        NativeZip::validate(archive);
    }
    state.SetItemsProcessed(state.iterations() * NativeZip::maxEntries);
}
BENCHMARK(validateAsciiNames)->Unit(benchmark::kMillisecond);

// Every name needs normalization: decomposed accents and Hangul.
void validateDecomposedNames(benchmark::State& state) {
    const Bytes archive = largestArchive("re\u0301sume\u0301-\u1112\u1161\u11AB-");
    for (auto _ : state) {
        NativeZip::validate(archive);
    }
    state.SetItemsProcessed(state.iterations() * NativeZip::maxEntries);
}
BENCHMARK(validateDecomposedNames)->Unit(benchmark::kMillisecond);

void entriesAsciiNames(benchmark::State& state) {
    const Bytes archive = largestArchive("resource-");
    for (auto _ : state) {
        benchmark::DoNotOptimize(NativeZip::entries(archive));
    }
}
BENCHMARK(entriesAsciiNames)->Unit(benchmark::kMillisecond);

} // namespace
