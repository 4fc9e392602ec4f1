#include "HttpsServer.h"
#include "Matchers.h"
#include "SignedFeeds.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "update/NetworkError.h"
#include "update/UpdateService.h"

#include <atomic>
#include <fstream>
#include <limits>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <stop_token>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::ElementsAre;
namespace fs = std::filesystem;

namespace {

Bytes randomBytes(std::size_t count, unsigned seed = 1) {
    std::mt19937 generator(seed);
    Bytes out(count);
    for (auto& byte : out) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return out;
}

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Progress values and the threads that reported them.
struct ProgressLog {
    std::mutex mutex;
    std::vector<double> values;
    std::set<std::thread::id> threads;

    UpdateService::Progress callback() {
        return [this](double value) {
            std::lock_guard lock(mutex);
            values.push_back(value);
            threads.insert(std::this_thread::get_id());
        };
    }
};

template <typename T>
NetworkError networkError(std::future<T>& future) {
    try {
        future.get();
    } catch (const NetworkError& error) {
        return error;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "not a network error: " << error.what();
        return NetworkError(NetworkError::Kind::other, error.what());
    }
    ADD_FAILURE() << "succeeded";
    return NetworkError(NetworkError::Kind::other, "succeeded");
}

class UpdateServiceTest : public testing::Test {
protected:
    UpdateServiceTest() { ::setenv("NO_PROXY", "*", 1); }

    UpdateService::Options options() const {
        UpdateService::Options options;
        options.directory = home.path() / ".vetrola" / "native-updates";
        options.caFile = server.caFile();
        options.pauses = {0ms, 0ms};
        options.idleTimeout = 2s;
        options.feedURL = server.url("/files/feed.json");
        options.publicKey = developmentPublicKey();
        return options;
    }

    void restart(UpdateService::Options changed) {
        service.reset();
        service = std::make_unique<UpdateService>(std::move(changed));
    }

    UpdatePackage package(const std::string& path, ByteView bytes, const std::string& kind = "monitor") const {
        UpdatePackage package;
        package.kind = kind;
        package.version = "2.1.0";
        package.url = server.url(path);
        package.size = static_cast<std::int64_t>(bytes.size());
        package.sha256 = SignedUpdates::hash(bytes);
        return package;
    }

    // The package served as /files/NAME.
    UpdatePackage served(const std::string& name, ByteView bytes, const std::string& kind = "monitor") const {
        server.addFile(name, bytes);
        return package("/files/" + name, bytes, kind);
    }

    fs::path directory() const { return home.path() / ".vetrola" / "native-updates"; }

    // Files of the download directory other than the chunk cache.
    std::vector<std::string> packageFiles() const {
        std::vector<std::string> names;
        if (fs::exists(directory())) {
            for (const auto& entry : fs::directory_iterator(directory())) {
                if (entry.path().filename() != "chunks") {
                    names.push_back(entry.path().filename().string());
                }
            }
        }
        return names;
    }

    std::size_t requestsFor(const std::string& prefix) const {
        std::size_t count = 0;
        for (const auto& entry : server.log()) {
            count += entry.contains("path") && entry["path"].get<std::string>().starts_with(prefix);
        }
        return count;
    }

    HttpsServer server;
    TemporaryDirectory home;
    std::unique_ptr<UpdateService> service = std::make_unique<UpdateService>(options());
};

const std::regex packageName("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.(zip|hex)");

} // namespace

TEST_F(UpdateServiceTest, DownloadsAVerifiedPackageUnderANewName) {
    const auto bytes = randomBytes(300000);
    ProgressLog progress;
    const auto callerThread = std::this_thread::get_id();
    auto future = service->download(served("client.zip", bytes), {.progress = progress.callback()});
    const auto file = future.get();

    EXPECT_EQ(file.parent_path(), directory());
    EXPECT_TRUE(std::regex_match(file.filename().string(), packageName)) << file;
    EXPECT_EQ(file.extension(), ".zip");
    EXPECT_EQ(readAll(file), bytes);
    EXPECT_THAT(packageFiles(), ElementsAre(file.filename().string())); // no temporary file left

    // 0 at the start, every 16384 bytes, then 1; all on the service's thread.
    ASSERT_EQ(progress.values.size(), 2 + 300000 / 16384);
    EXPECT_EQ(progress.values.front(), 0.0);
    for (std::size_t i = 1; i + 1 < progress.values.size(); ++i) {
        EXPECT_DOUBLE_EQ(progress.values[i], 16384.0 * static_cast<double>(i) / 300000.0);
    }
    EXPECT_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(progress.threads.size(), 1u);
    EXPECT_FALSE(progress.threads.contains(callerThread));
}

TEST_F(UpdateServiceTest, FirmwareIsStoredAsHex) {
    const auto bytes = randomBytes(100);
    const auto file = service->download(served("firmware.hex", bytes, "firmware")).get();
    EXPECT_TRUE(std::regex_match(file.filename().string(), packageName)) << file;
    EXPECT_EQ(file.extension(), ".hex");
    const auto second = service->download(served("firmware.hex", bytes, "firmware")).get();
    EXPECT_NE(second, file);
}

TEST_F(UpdateServiceTest, SendsOnlyTheUserAgentAndAsksForNoCompression) {
    service->download(served("client.zip", randomBytes(10))).get();
    const auto log = server.log();
    const auto request = std::find_if(log.begin(), log.end(), [](const json& e) { return e.contains("path"); });
    ASSERT_NE(request, log.end());
    EXPECT_EQ((*request)["method"], "GET");
    EXPECT_EQ((*request)["headers"]["user-agent"], "Quelmar-Native/2");
    for (const auto& [name, value] : (*request)["headers"].items()) {
        EXPECT_TRUE(name == "host" || name == "user-agent" || name == "accept") << name << ": " << value;
    }
}

TEST_F(UpdateServiceTest, RefusesPlainHTTPBeforeAnyRequest) {
    auto plain = served("client.zip", randomBytes(10));
    plain.url = server.plainURL("/files/client.zip");
    auto future = service->download(plain);
    EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("更新地址必须使用 HTTPS"));

    auto options = this->options();
    options.feedURL = server.plainURL("/files/feed.json");
    restart(options);
    auto check = service->check();
    EXPECT_THAT([&] { check.get(); }, ThrowsUPSError("更新地址必须使用 HTTPS"));
    EXPECT_TRUE(server.log().empty());
}

TEST_F(UpdateServiceTest, FollowsHTTPSRedirects) {
    const auto bytes = randomBytes(5000);
    served("client.zip", bytes);
    // Relative references, resolved against the address that answered.
    EXPECT_EQ(readAll(service->download(package("/redirect/3/files/client.zip", bytes)).get()), bytes);
    EXPECT_EQ(server.requestCount(), 4u);
    // An absolute one, and the largest number of hops.
    const auto absolute = "/redirect-to?code=307&url=" + server.url("/redirect/9/files/client.zip");
    EXPECT_EQ(readAll(service->download(package(absolute, bytes)).get()), bytes);
}

TEST_F(UpdateServiceTest, RefusesARedirectAwayFromHTTPSWithoutFollowingIt) {
    const auto bytes = randomBytes(5000);
    served("client.zip", bytes);
    for (const auto& target : {server.plainURL("/files/client.zip"), std::string("ftp://127.0.0.1/client.zip")}) {
        auto future = service->download(package("/redirect-to?url=" + target, bytes));
        EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("下载响应或重定向不安全")) << target;
    }
    for (const auto& entry : server.log()) {
        EXPECT_EQ(entry["scheme"], "https") << entry.dump();
    }
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(UpdateServiceTest, BoundsTheNumberOfRedirects) {
    const auto bytes = randomBytes(100);
    served("client.zip", bytes);
    auto future = service->download(package("/redirect/11/files/client.zip", bytes));
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::tooManyRedirects);
    EXPECT_EQ(requestsFor("/files/client.zip"), 0u);
}

TEST_F(UpdateServiceTest, NotFoundFailsAtOnce) {
    auto future = service->download(package("/status/404", randomBytes(10)));
    EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("下载失败：HTTP 404"));
    EXPECT_EQ(server.requestCount(), 1u);
}

class FinalStatus : public UpdateServiceTest, public testing::WithParamInterface<int> {};
TEST_P(FinalStatus, IsNotRetried) {
    auto future = service->download(package("/status/" + std::to_string(GetParam()), randomBytes(10)));
    EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("下载失败：HTTP " + std::to_string(GetParam())));
    EXPECT_EQ(server.requestCount(), 1u);
}
// 302 and 301 here come without a Location: nothing to follow.
INSTANTIATE_TEST_SUITE_P(Statuses, FinalStatus, testing::Values(201, 206, 301, 302, 304, 400, 401, 403, 410, 501, 505),
                         testing::PrintToStringParamName());

class TransientStatus : public UpdateServiceTest, public testing::WithParamInterface<int> {};
TEST_P(TransientStatus, IsRetried) {
    const auto bytes = randomBytes(1000);
    served("client.zip", bytes);
    const auto path = "/flaky/k/2/" + std::to_string(GetParam()) + "/files/client.zip";
    EXPECT_EQ(readAll(service->download(package(path, bytes)).get()), bytes);
    EXPECT_EQ(server.requestCount(), 3u);
}
INSTANTIATE_TEST_SUITE_P(Statuses, TransientStatus, testing::Values(408, 429, 500, 502, 503, 504),
                         testing::PrintToStringParamName());

TEST_F(UpdateServiceTest, GivesUpAfterThreeAttemptsWithGrowingPauses) {
    auto options = this->options();
    options.pauses = {300ms, 600ms};
    restart(options);
    auto future = service->download(package("/status/503", randomBytes(10)));
    const auto error = networkError(future);
    EXPECT_EQ(error.kind(), NetworkError::Kind::resourceUnavailable);
    EXPECT_TRUE(error.retryable());

    std::vector<double> times;
    for (const auto& entry : server.log()) {
        if (entry.contains("path")) {
            times.push_back(entry["time"].get<double>());
        }
    }
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[1] - times[0], 0.3);
    EXPECT_GE(times[2] - times[1], 0.6);
}

TEST_F(UpdateServiceTest, AcceptsExactlyTheLimitWhateverTheServerAnnounces) {
    const auto bytes = randomBytes(40000);
    server.addFile("client.zip", bytes);
    // Without an announced length the limit is enforced on the bytes as they arrive.
    EXPECT_EQ(readAll(service->download(package("/unannounced/client.zip", bytes)).get()), bytes);

    auto shorter = package("/unannounced/client.zip", ByteView(bytes).first(bytes.size() - 1));
    auto over = service->download(shorter);
    EXPECT_THAT([&] { over.get(); }, ThrowsUPSError("下载文件超过限制"));

    auto announced = service->download(package("/declared/40001", bytes));
    EXPECT_THAT([&] { announced.get(); }, ThrowsUPSError("下载文件过大"));
    EXPECT_EQ(requestsFor("/declared/"), 1u);
}

TEST_F(UpdateServiceTest, ChecksTheFeedWithinItsLimit) {
    const auto envelope = signedEnvelopeOf(feedOf({clientPackage("2.5.0")}));
    // Trailing white space keeps the JSON valid: exactly 524288 bytes pass.
    server.addFile("feed.json", envelope + std::string(524288 - envelope.size(), ' '));
    const auto feed = service->check().get();
    ASSERT_EQ(feed.packages.size(), 1u);
    EXPECT_EQ(feed.packages[0].version, "2.5.0");

    server.addFile("feed.json", envelope + std::string(524289 - envelope.size(), ' '));
    auto options = this->options();
    options.feedURL = server.url("/unannounced/feed.json");
    restart(options);
    auto over = service->check();
    EXPECT_THAT([&] { over.get(); }, ThrowsUPSError("下载文件超过限制"));
}

TEST_F(UpdateServiceTest, CheckPassesVerificationErrorsOn) {
    auto text = signedEnvelopeOf(feedOf({clientPackage()}));
    auto envelope = json::parse(text);
    envelope["signature"] = json::parse(signedEnvelope("{}"))["signature"];
    server.addFile("feed.json", envelope.dump());
    auto bad = service->check();
    EXPECT_THAT([&] { bad.get(); }, ThrowsUPSError("更新清单签名无效，已拒绝更新"));

    server.addFile("feed.json", "<html>");
    auto garbage = service->check();
    EXPECT_THROW(garbage.get(), json::parse_error);
}

TEST_F(UpdateServiceTest, ABodyCutShortIsRetriedAsALostConnection) {
    const auto bytes = randomBytes(200000);
    server.addFile("client.zip", bytes);
    auto future = service->download(package("/truncated/client.zip", bytes));
    const auto error = networkError(future);
    EXPECT_EQ(error.kind(), NetworkError::Kind::connectionLost) << error.what();
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_TRUE(packageFiles().empty());
}

TEST_F(UpdateServiceTest, AStalledTransferEndsByTheIdleTimeout) {
    auto options = this->options();
    options.idleTimeout = 500ms;
    restart(options);
    const auto bytes = randomBytes(100000);
    server.addFile("client.zip", bytes);
    auto future = service->download(package("/stall/client.zip", bytes));
    const auto error = networkError(future);
    EXPECT_EQ(error.kind(), NetworkError::Kind::timedOut) << error.what();
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(UpdateServiceTest, ASlowButSteadyBodyIsNotTimedOut) {
    auto options = this->options();
    options.idleTimeout = 500ms;
    restart(options);
    // 8 pieces 150 ms apart: longer than the idle timeout in all, never idle for it.
    const auto bytes = randomBytes(8 * 16384);
    server.addFile("client.zip", bytes);
    EXPECT_EQ(readAll(service->download(package("/slow/client.zip?delay=150", bytes)).get()), bytes);
}

TEST_F(UpdateServiceTest, CancellationStopsATransferAndIsNotRetried) {
    const auto bytes = randomBytes(64 * 16384);
    server.addFile("client.zip", bytes);
    std::stop_source cancellation;
    std::atomic<bool> finished = false;
    auto future =
        service->download(package("/slow/client.zip?delay=100", bytes), {.progress =
                                                                             [&](double value) {
                                                                                 if (value > 0) {
                                                                                     cancellation.request_stop();
                                                                                 }
                                                                             },
                                                                         .stop = cancellation.get_token(),
                                                                         .finished = [&] { finished = true; }});
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    while (!finished) { // called once the future is ready
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(packageFiles().empty());
}

TEST_F(UpdateServiceTest, CancellationEndsThePauseBetweenAttempts) {
    auto options = this->options();
    options.pauses = {60s, 60s};
    restart(options);
    std::stop_source cancellation;
    auto future = service->download(package("/status/503", randomBytes(10)), {.stop = cancellation.get_token()});
    while (server.requestCount() == 0) {
        std::this_thread::sleep_for(10ms);
    }
    cancellation.request_stop();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(UpdateServiceTest, ACallCancelledBeforeItRunsSendsNothing) {
    std::stop_source cancellation;
    cancellation.request_stop();
    auto future = service->download(served("client.zip", randomBytes(10)), {.stop = cancellation.get_token()});
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::cancelled);
    EXPECT_TRUE(server.log().empty());
}

// The stop request wakes a transfer that waits for bytes: the call ends well within the one-second
// slices the transfer polls in otherwise, let alone the idle timeout.
TEST_F(UpdateServiceTest, CancellationEndsAStalledTransferAtOnce) {
    auto options = this->options();
    options.idleTimeout = 60s;
    restart(options);
    const auto bytes = randomBytes(100000);
    server.addFile("client.zip", bytes);
    std::stop_source cancellation;
    std::atomic<bool> receiving = false;
    auto future = service->download(
        package("/stall/client.zip", bytes),
        {.progress = [&](double value) { receiving = receiving || value > 0; }, .stop = cancellation.get_token()});
    while (!receiving) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(200ms); // the first half has arrived; the rest never comes
    const auto start = std::chrono::steady_clock::now();
    cancellation.request_stop();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(UpdateServiceTest, CallsRunOneAtATimeInOrder) {
    const auto slow = randomBytes(8 * 16384, 1);
    const auto fast = randomBytes(4 * 16384, 2);
    server.addFile("slow.zip", slow);
    server.addFile("fast.zip", fast);
    std::mutex mutex;
    std::vector<std::string> events;
    const auto record = [&](std::string name) {
        return [&, name](double value) {
            std::lock_guard lock(mutex);
            events.push_back(name + (value == 0.0 ? " start" : value == 1.0 ? " end" : ""));
        };
    };
    auto first = service->download(package("/slow/slow.zip?delay=50", slow), {.progress = record("slow")});
    auto second = service->download(package("/files/fast.zip", fast), {.progress = record("fast")});
    EXPECT_EQ(readAll(second.get()), fast);
    EXPECT_EQ(readAll(first.get()), slow);
    std::erase_if(events, [](const std::string& e) { return !e.ends_with("start") && !e.ends_with("end"); });
    // The last piece of a body whose length is a multiple of 16384 reports 1 too.
    events.erase(std::unique(events.begin(), events.end()), events.end());
    EXPECT_THAT(events, ElementsAre("slow start", "slow end", "fast start", "fast end"));
}

TEST_F(UpdateServiceTest, DestroyingTheServiceCancelsRunningAndQueuedCalls) {
    const auto bytes = randomBytes(64 * 16384);
    server.addFile("client.zip", bytes);
    std::atomic<bool> started = false;
    auto running =
        service->download(package("/slow/client.zip?delay=100", bytes), {.progress = [&](double) { started = true; }});
    auto queued = service->check();
    while (!started) {
        std::this_thread::sleep_for(10ms);
    }
    service.reset();
    EXPECT_EQ(networkError(running).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(networkError(queued).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(requestsFor("/files/feed.json"), 0u);
}

TEST_F(UpdateServiceTest, ADirectoryThatCannotBeCreatedFailsWithTheFileSystemError) {
    std::ofstream(home.path() / "file") << "in the way";
    auto options = this->options();
    options.directory = home.path() / "file" / "native-updates";
    restart(options);
    auto future = service->download(served("client.zip", randomBytes(10)));
    EXPECT_THROW(future.get(), fs::filesystem_error);
    EXPECT_TRUE(server.log().empty());
}

TEST_F(UpdateServiceTest, APackageThatDoesNotMatchLeavesNoFile) {
    const auto bytes = randomBytes(50000);
    auto shortByOne = served("client.zip", ByteView(bytes).first(bytes.size() - 1));
    shortByOne.size = static_cast<std::int64_t>(bytes.size());
    shortByOne.sha256 = SignedUpdates::hash(bytes);
    auto future = service->download(shortByOne);
    EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("更新包 SHA-256 校验失败"));

    auto changed = bytes;
    changed[1234] ^= 0x80;
    auto differs = served("client.zip", changed);
    differs.sha256 = SignedUpdates::hash(bytes);
    auto second = service->download(differs);
    EXPECT_THAT([&] { second.get(); }, ThrowsUPSError("更新包 SHA-256 校验失败"));
    EXPECT_TRUE(packageFiles().empty());
}

namespace {

// A "raw-chunks" package of the given pieces, each served as /files/chunkN.
struct ChunkedPackage {
    UpdatePackage package;
    Bytes bytes;
};

ChunkedPackage chunked(const HttpsServer& server, const std::vector<Bytes>& pieces) {
    ChunkedPackage out;
    out.package.kind = "monitor";
    out.package.version = "2.1.0";
    out.package.url = server.url("/files/unused");
    out.package.transport = "raw-chunks";
    out.package.chunks.emplace();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto name = "chunk" + std::to_string(i);
        server.addFile(name, pieces[i]);
        out.package.chunks->push_back(UpdateChunk{
            server.url("/files/" + name), static_cast<std::int64_t>(pieces[i].size()), SignedUpdates::hash(pieces[i])});
        out.bytes.insert(out.bytes.end(), pieces[i].begin(), pieces[i].end());
    }
    out.package.size = static_cast<std::int64_t>(out.bytes.size());
    out.package.sha256 = SignedUpdates::hash(out.bytes);
    return out;
}

} // namespace

TEST_F(UpdateServiceTest, ChunksAreVerifiedCachedAndReused) {
    const std::vector<Bytes> pieces = {randomBytes(100000, 1), randomBytes(100000, 2), randomBytes(50000, 3)};
    const auto [package, bytes] = chunked(server, pieces);

    ProgressLog first;
    EXPECT_EQ(readAll(service->download(package, {.progress = first.callback()}).get()), bytes);
    EXPECT_THAT(first.values, ElementsAre(0.4, 0.8, 1.0, 1.0));
    for (const auto& chunk : *package.chunks) {
        EXPECT_EQ(SignedUpdates::hash(readAll(directory() / "chunks" / chunk.sha256)), chunk.sha256);
    }
    EXPECT_EQ(server.requestCount(), 3u);

    // Everything cached: no request at all, and the same progress.
    ProgressLog second;
    EXPECT_EQ(readAll(service->download(package, {.progress = second.callback()}).get()), bytes);
    EXPECT_EQ(second.values, first.values);
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(packageFiles().size(), 2u);
}

TEST_F(UpdateServiceTest, ACachedChunkThatNoLongerMatchesIsFetchedAgain) {
    const std::vector<Bytes> pieces = {randomBytes(1000, 1), randomBytes(1000, 2), randomBytes(1000, 3)};
    const auto [package, bytes] = chunked(server, pieces);
    service->download(package).get();

    const auto& chunks = *package.chunks;
    std::ofstream(directory() / "chunks" / chunks[0].sha256, std::ios::binary | std::ios::trunc)
        << std::string(1000, 'x'); // same size, other bytes
    std::ofstream(directory() / "chunks" / chunks[1].sha256, std::ios::binary | std::ios::trunc) << "short";
    EXPECT_EQ(readAll(service->download(package).get()), bytes);
    EXPECT_EQ(requestsFor("/files/chunk0"), 2u);
    EXPECT_EQ(requestsFor("/files/chunk1"), 2u);
    EXPECT_EQ(requestsFor("/files/chunk2"), 1u);
    EXPECT_EQ(readAll(directory() / "chunks" / chunks[0].sha256), pieces[0]);
    EXPECT_EQ(readAll(directory() / "chunks" / chunks[1].sha256), pieces[1]);
}

TEST_F(UpdateServiceTest, ABadChunkStopsTheDownloadAndKeepsTheGoodOnes) {
    const std::vector<Bytes> pieces = {randomBytes(1000, 1), randomBytes(1000, 2), randomBytes(1000, 3)};
    const auto [package, bytes] = chunked(server, pieces);
    auto wrong = pieces[1];
    wrong[0] ^= 1;
    server.addFile("chunk1", wrong);
    auto future = service->download(package);
    EXPECT_THAT([&] { future.get(); }, ThrowsUPSError("更新分块 SHA-256 校验失败"));
    EXPECT_TRUE(fs::exists(directory() / "chunks" / package.chunks->at(0).sha256));
    EXPECT_FALSE(fs::exists(directory() / "chunks" / package.chunks->at(1).sha256));
    EXPECT_EQ(requestsFor("/files/chunk2"), 0u);
    EXPECT_TRUE(packageFiles().empty());

    // A chunk longer than announced is over its limit.
    server.addFile("chunk1", Bytes(1001, 0));
    auto longer = service->download(package);
    EXPECT_THAT([&] { longer.get(); }, ThrowsUPSError("下载文件过大"));

    // The next attempt resumes: only the chunks not yet cached are fetched.
    server.addFile("chunk1", pieces[1]);
    EXPECT_EQ(readAll(service->download(package).get()), bytes);
    EXPECT_EQ(requestsFor("/files/chunk0"), 1u);
}

TEST_F(UpdateServiceTest, CancellationIsHonouredBetweenChunks) {
    const std::vector<Bytes> pieces = {randomBytes(1000, 1), randomBytes(1000, 2)};
    const auto [package, bytes] = chunked(server, pieces);
    std::stop_source cancellation;
    auto future = service->download(
        package, {.progress = [&](double) { cancellation.request_stop(); }, .stop = cancellation.get_token()});
    EXPECT_EQ(networkError(future).kind(), NetworkError::Kind::cancelled);
    EXPECT_EQ(requestsFor("/files/chunk1"), 0u);
}

namespace {

UpdatePackage contents(const HttpsServer& server, const std::string& path, ByteView bytes) {
    UpdatePackage package;
    package.kind = "firmware";
    package.version = "1.0.9";
    package.url = server.url(path);
    package.size = static_cast<std::int64_t>(bytes.size());
    package.sha256 = SignedUpdates::hash(bytes);
    package.transport = "korvan-contents";
    return package;
}

} // namespace

TEST_F(UpdateServiceTest, ContentsRepliesCarryThePackageInBase64WithLineBreaks) {
    const auto bytes = randomBytes(70000);
    server.addFile("image.hex", bytes);
    const auto file = service->download(contents(server, "/contents/image.hex", bytes)).get();
    EXPECT_EQ(readAll(file), bytes);
    EXPECT_EQ(file.extension(), ".hex");
}

TEST_F(UpdateServiceTest, ContentsRepliesThatAreNotTheRecordFailWithTheDecodersError) {
    const auto bytes = randomBytes(10);
    const auto reply = [&](const std::string& text) {
        server.addFile("reply.json", text);
        return service->download(contents(server, "/files/reply.json", bytes));
    };
    auto notJSON = reply("content");
    EXPECT_THROW(notJSON.get(), json::parse_error);
    auto array = reply("[]");
    EXPECT_THROW(array.get(), json::type_error);
    auto missing = reply(R"({"encoding": "base64"})");
    EXPECT_THROW(missing.get(), json::out_of_range);
    auto number = reply(R"({"content": 5})");
    EXPECT_THROW(number.get(), json::type_error);
    auto broken = reply(R"({"content": "QUJD\nRA"})");
    EXPECT_THAT([&] { broken.get(); }, ThrowsUPSError("下载内容编码错误"));
    // Twice the size plus 16384 bytes at most.
    auto large = reply(R"({"content": ")" + std::string(2 * 10 + 16384, 'A') + R"("})");
    EXPECT_THAT([&] { large.get(); }, ThrowsUPSError("下载文件过大"));
}

struct CertificateCase {
    const char* name;
    HttpsServer::Certificate certificate;
    NetworkError::Kind kind;
};
class CertificateError : public UpdateServiceTest, public testing::WithParamInterface<CertificateCase> {};

TEST_P(CertificateError, IsClassifiedAndNeverRetried) {
    const HttpsServer untrusted(GetParam().certificate);
    const auto bytes = randomBytes(10);
    untrusted.addFile("client.zip", bytes);
    auto target = package("/files/client.zip", bytes);
    target.url = untrusted.url("/files/client.zip");
    auto future = service->download(target);
    const auto error = networkError(future);
    EXPECT_EQ(error.kind(), GetParam().kind) << error.what();
    EXPECT_FALSE(error.retryable());
    EXPECT_FALSE(error.description().empty());
    std::this_thread::sleep_for(100ms); // the server logs after the client has given up
    std::size_t connections = 0;
    for (const auto& entry : untrusted.log()) {
        connections += entry.value("event", "") == "connection";
    }
    EXPECT_EQ(connections, 1u);
    EXPECT_EQ(untrusted.requestCount(), 0u);
}
INSTANTIATE_TEST_SUITE_P(Certificates, CertificateError,
                         testing::Values(CertificateCase{"Expired", HttpsServer::Certificate::expired,
                                                         NetworkError::Kind::certificateBadDate},
                                         CertificateCase{"UnknownRoot", HttpsServer::Certificate::unknownRoot,
                                                         NetworkError::Kind::certificateUnknownRoot},
                                         CertificateCase{"WrongHost", HttpsServer::Certificate::wrongHost,
                                                         NetworkError::Kind::certificateUntrusted}),
                         [](const auto& testCase) { return testCase.param.name; });

TEST_F(UpdateServiceTest, ANetworkErrorCarriesCurlsText) {
    auto target = package("/files/x", randomBytes(10));
    target.url = "https://127.0.0.1:1/x"; // nothing listens on port 1
    auto future = service->download(target);
    const auto error = networkError(future);
    EXPECT_EQ(error.kind(), NetworkError::Kind::cannotConnect);
    EXPECT_TRUE(error.retryable());
    EXPECT_THAT(error.what(), testing::HasSubstr("127.0.0.1"));

    // Every attempt reports its own failure: a retry after a failed name lookup once came back as a bad option.
    target.url = "https://quelmar-test.invalid/x";
    auto unresolved = service->download(target);
    EXPECT_THAT(networkError(unresolved).what(), testing::HasSubstr("resolve"));
}

// The byte limits come from the package: one that verification would refuse for its size or chunks is
// refused with verification's message before any request.
TEST_F(UpdateServiceTest, APackageOutsideTheFeedsLimitsIsRefusedBeforeAnyRequest) {
    const auto bytes = randomBytes(10);
    const auto sized = [&](UpdatePackage package, std::int64_t size) {
        package.size = size;
        return package;
    };
    auto negativeChunk = chunked(server, {bytes}).package;
    negativeChunk.chunks->at(0).size = -1;
    const std::vector<std::pair<UpdatePackage, std::string>> refused = {
        {sized(package("/files/x", bytes), -1), "更新包信息无效"},
        {sized(package("/files/x", bytes), SignedUpdates::maxPackage + 1), "更新包信息无效"},
        {sized(contents(server, "/files/x", bytes), -1), "更新包信息无效"},
        {sized(contents(server, "/files/x", bytes), std::numeric_limits<std::int64_t>::max()), "更新包信息无效"},
        {negativeChunk, "更新分块信息无效"},
    };
    for (const auto& [package, message] : refused) {
        auto future = service->download(package);
        EXPECT_THAT([&] { future.get(); }, ThrowsUPSError(message)) << package.size;
    }
    EXPECT_TRUE(server.log().empty());
}
