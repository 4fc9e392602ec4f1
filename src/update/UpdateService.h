#pragma once

#include "core/Bytes.h"
#include "core/SignedUpdates.h"
#include "core/UpdateFeed.h"
#include "system/SerialQueue.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace quelmar {

class HttpsTransfer;
class Sha256;

// The only component that talks to the network: fetches and verifies the signed feed and downloads
// packages of a verified feed into its directory. Calls run one at a time, in the order given, on the
// service's own thread; each returns a future for its result or error. Errors are UPSError (the
// user-facing texts), NetworkError, std::filesystem::filesystem_error / std::system_error and the JSON
// decoder's errors, all unchanged.
class UpdateService {
public:
    using Progress = std::function<void(double)>;

    struct Options {
        std::filesystem::path directory;
        std::optional<std::filesystem::path> caFile; // none: the system's CA store
        // After failed attempts 0 and 1.
        std::array<std::chrono::milliseconds, 2> pauses{std::chrono::seconds(1), std::chrono::seconds(2)};
        // A transfer that receives nothing for this long fails (and is retried).
        std::chrono::milliseconds idleTimeout{std::chrono::seconds(25)};
        std::string feedURL{SignedUpdates::feedURL};
        std::string publicKey{SignedUpdates::publicKey};

        // The user's: Files::updatesDirectory(), the system's CA store and the constants above.
        static Options standard();
    };

    // Hooks of one call. Both functions run on the service's thread; finished must not throw.
    struct CallOptions {
        Progress progress{};              // download only: fractions from 0 to 1
        std::stop_token stop{};           // a stop request cancels the call, queued or running
        std::function<void()> finished{}; // once the future holds the result or the error
    };

    static constexpr std::int64_t feedLimit = SignedUpdates::maxFeed;
    static constexpr std::string_view userAgent = "Quelmar-Native/2";
    static constexpr int maxRedirects = 10;

    UpdateService();
    explicit UpdateService(Options options);
    // Cancels the running and the queued calls, then waits for them to end.
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // The verified feed from the feed address.
    std::future<UpdateFeed> check() { return check(CallOptions()); }
    std::future<UpdateFeed> check(CallOptions call);
    // Downloads a package of a verified feed and returns the path of the checked file: a new
    // upper-case UUID with "hex" for firmware, "zip" otherwise. A failed download leaves no such file.
    // A package that breaks the feed's size or chunk rules fails with verify's message before any request.
    std::future<std::filesystem::path> download(UpdatePackage package) {
        return download(std::move(package), CallOptions());
    }
    std::future<std::filesystem::path> download(UpdatePackage package, CallOptions call);

    const std::filesystem::path& directory() const { return options_.directory; }

private:
    class Call;

    template <typename T, typename Body>
    std::future<T> enqueue(CallOptions call, Body body);

    UpdateFeed runCheck(const Call& call);
    std::filesystem::path runDownload(const UpdatePackage& package, const Call& call, const Progress& progress);
    Bytes downloadChunks(const UpdatePackage& package, const Call& call, const Progress& progress);
    Bytes downloadContents(const UpdatePackage& package, const Call& call);

    // GET with the https, limit, status and retry rules. digest, when given, receives the body as it
    // arrives (and starts over with every attempt).
    Bytes fetch(const std::string& url, std::int64_t limit, const Call& call, const Progress* progress = nullptr,
                Sha256* digest = nullptr);
    Bytes fetchOnce(const std::string& url, std::int64_t limit, const Call& call, const Progress* progress,
                    Sha256* digest);
    void pause(std::chrono::milliseconds duration, const Call& call);

    const Options options_;
    std::unique_ptr<HttpsTransfer> transfer_; // only used on the service's thread

    std::stop_source shutdown_;
    SerialQueue queue_; // last: destroyed first, ending the calls that use everything above
};

} // namespace quelmar
