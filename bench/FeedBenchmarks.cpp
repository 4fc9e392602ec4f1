#include "core/SignedUpdates.h"
#include "tools/FeedSigning.h"
#include "tools/SigningKey.h"

#include <nlohmann/json.hpp>
#include <string>

#include <benchmark/benchmark.h>

using namespace quelmar;

namespace {

// A signed feed of client and firmware entries, about size bytes of JSON.
struct SignedFeed {
    std::string envelope;
    std::string publicKey;
    std::size_t feedBytes = 0;
    std::size_t packages = 0;
};

SignedFeed makeFeed(std::size_t size) {
    nlohmann::json packages = nlohmann::json::array();
    std::string text;
    for (int i = 0; text.size() < size; ++i) {
        const auto version = "2." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        nlohmann::json package = {
            {"kind", i % 2 ? "monitor" : "firmware"},
            {"version", version},
            {"url", "https://downloads.example.org/packages/" + std::to_string(i) + "/Quelmar_Monitor.zip"},
            {"size", 1000 + i},
            {"sha256", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
            {"notes", "修复了若干问题，改进了电池参数的写入与校验。"},
        };
        if (i % 2) {
            package["platform"] = "linux";
            package["implementation"] = "native";
        } else {
            package["model"] = "Quelmar DC UPS";
            package["hardware"] = {"1.2", "1.3"};
        }
        if (i % 7 == 0) {
            package["transport"] = "raw-chunks";
            package["chunks"] = {{{"url", "https://downloads.example.org/c/" + std::to_string(i)},
                                  {"size", 1000 + i},
                                  {"sha256", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"}}};
        }
        packages.push_back(package);
        if (i % 64 == 63 || packages.size() * 400 > size) {
            text = nlohmann::json{{"schema", 1}, {"packages", packages}}.dump(1);
        }
    }
    const auto key = publish::SigningKey::generate();
    const Bytes bytes(text.begin(), text.end());
    return {publish::signFeed(bytes, key), key.publicKeyHex(), text.size(), packages.size()};
}

// range(0): the size of the feed's JSON; 393216 bytes make an envelope of 512 KiB, the most the
// client downloads.
void verifyFeed(benchmark::State& state) {
    const auto feed = makeFeed(static_cast<std::size_t>(state.range(0)));
    const Bytes envelope(feed.envelope.begin(), feed.envelope.end());
    for (auto _ : state) {
        auto checked = SignedUpdates::verify(envelope, feed.publicKey);
        benchmark::DoNotOptimize(checked);
    }
    state.counters["feed_KiB"] = static_cast<double>(feed.feedBytes) / 1024.0;
    state.counters["envelope_KiB"] = static_cast<double>(feed.envelope.size()) / 1024.0;
    state.counters["packages"] = static_cast<double>(feed.packages);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * feed.feedBytes));
}
BENCHMARK(verifyFeed)->Name("SignedUpdates.verify")->Arg(393216)->Arg(524288)->Unit(benchmark::kMillisecond);

void hashPackage(benchmark::State& state) {
    const Bytes data(static_cast<std::size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        auto digest = SignedUpdates::hash(data);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(hashPackage)->Name("SignedUpdates.hash")->Arg(100 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
