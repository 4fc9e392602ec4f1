#include "update/UpdateService.h"

#include "core/Base64.h"
#include "core/Hex.h"
#include "core/Sha256.h"
#include "core/UPSError.h"
#include "core/URLs.h"
#include "system/Files.h"
#include "system/Uuid.h"
#include "update/HttpsTransfer.h"
#include "update/LargeBuffer.h"
#include "update/NetworkError.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace quelmar {

namespace {

constexpr int attempts = 3;
constexpr std::int64_t progressStep = 16384;
constexpr std::int64_t initialReserve = 1048576;

bool isHTTPS(std::string_view url) {
    return urlScheme(url) == std::string_view("https");
}

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isRetryableStatus(long status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

} // namespace

// The running call's stop: requested by the caller, or by the service when it shuts down. Both
// forwarding callbacks run on the requesting thread and touch nothing but this call's source, whose
// own callbacks (the transfer's wake, the pause's wait) end before the call does; a callback's
// destructor waits for it to finish, so none runs once the call is gone.
class UpdateService::Call {
public:
    Call(const std::stop_token& caller, const std::stop_token& shutdown)
        : fromCaller_(caller, Forward{source_})
        , fromShutdown_(shutdown, Forward{source_}) {}

    std::stop_token token() const { return source_.get_token(); }
    void throwIfCancelled() const {
        if (source_.stop_requested()) {
            throw NetworkError::cancelled();
        }
    }

private:
    struct Forward {
        std::stop_source& target;
        void operator()() const noexcept { target.request_stop(); }
    };
    std::stop_source source_; // first: the callbacks below refer to it
    std::stop_callback<Forward> fromCaller_;
    std::stop_callback<Forward> fromShutdown_;
};

UpdateService::Options UpdateService::Options::standard() {
    Options options;
    options.directory = Files::updatesDirectory();
    return options;
}

UpdateService::UpdateService()
    : UpdateService(Options::standard()) {}

UpdateService::UpdateService(Options options)
    : options_(std::move(options))
    , transfer_(std::make_unique<HttpsTransfer>(
          HttpsTransfer::Settings{options_.caFile, options_.idleTimeout, std::string(userAgent)}))
    , queue_("net.quelmar.net") {}

UpdateService::~UpdateService() {
    // The queued calls still run, and end at once as cancelled.
    shutdown_.request_stop();
}

template <typename T, typename Body>
std::future<T> UpdateService::enqueue(CallOptions options, Body body) {
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    queue_.submit([this, promise, options = std::move(options), body = std::move(body)] {
        try {
            const Call call(options.stop, shutdown_.get_token());
            call.throwIfCancelled();
            promise->set_value(body(call, options.progress));
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
        if (options.finished) {
            options.finished();
        }
    });
    return future;
}

std::future<UpdateFeed> UpdateService::check(CallOptions call) {
    return enqueue<UpdateFeed>(std::move(call), [this](const Call& c, const Progress&) { return runCheck(c); });
}

std::future<std::filesystem::path> UpdateService::download(UpdatePackage package, CallOptions call) {
    return enqueue<std::filesystem::path>(
        std::move(call), [this, package = std::move(package)](const Call& c, const Progress& progress) {
            return runDownload(package, c, progress);
        });
}

UpdateFeed UpdateService::runCheck(const Call& call) {
    const auto data = fetch(options_.feedURL, feedLimit, call);
    return SignedUpdates::verify(data, options_.publicKey);
}

std::filesystem::path UpdateService::runDownload(const UpdatePackage& package, const Call& call,
                                                 const Progress& progress) {
    // The limits below come from the package: one that the feed's verification would refuse for them
    // (a negative or huge size) must not reach the network.
    SignedUpdates::checkSizeAndChunks(package);
    std::filesystem::create_directories(options_.directory);
    Bytes bytes;
    std::string digest;
    if (package.transport == UpdatePackage::rawChunks) {
        bytes = downloadChunks(package, call, progress);
        digest = SignedUpdates::hash(bytes);
    } else if (package.transport == UpdatePackage::korvanContents) {
        bytes = downloadContents(package, call);
        digest = SignedUpdates::hash(bytes);
    } else {
        // Hashed while it arrives: a 100 MiB package is not read twice.
        Sha256 running;
        bytes = fetch(package.url, package.size, call, progress ? &progress : nullptr, &running);
        digest = toHex(running.finish());
    }
    if (static_cast<std::int64_t>(bytes.size()) != package.size || digest != package.sha256) {
        throw UPSError("更新包 SHA-256 校验失败");
    }
    const auto file = options_.directory / (randomUUID() + (package.kind == "firmware" ? ".hex" : ".zip"));
    Files::writeAtomically(file, bytes);
    if (progress) {
        progress(1.0);
    }
    return file;
}

Bytes UpdateService::downloadChunks(const UpdatePackage& package, const Call& call, const Progress& progress) {
    const auto cache = options_.directory / "chunks";
    std::filesystem::create_directories(cache);
    Bytes bytes;
    reserveLarge(bytes, static_cast<std::size_t>(package.size));
    for (const auto& chunk : *package.chunks) {
        call.throwIfCancelled();
        // Checked digests only (checkSizeAndChunks): each names its cache file.
        const auto file = cache / chunk.sha256;
        auto data = Files::readFileOfSize(file, chunk.size);
        if (data && SignedUpdates::hash(*data) != chunk.sha256) {
            data.reset();
        }
        if (!data) {
            data = fetch(chunk.url, chunk.size, call);
            if (static_cast<std::int64_t>(data->size()) != chunk.size || SignedUpdates::hash(*data) != chunk.sha256) {
                throw UPSError("更新分块 SHA-256 校验失败");
            }
            Files::writeAtomically(file, *data);
        }
        bytes.insert(bytes.end(), data->begin(), data->end());
        if (progress) {
            progress(static_cast<double>(bytes.size()) / static_cast<double>(package.size));
        }
    }
    return bytes;
}

Bytes UpdateService::downloadContents(const UpdatePackage& package, const Call& call) {
    const auto reply = fetch(package.url, 2 * package.size + 16384, call);
    const auto response = nlohmann::json::parse(reply.begin(), reply.end());
    auto content = decodeBase64IgnoringOthers(jsonObject(response).at("content").get<std::string>());
    if (!content) {
        throw UPSError("下载内容编码错误");
    }
    return std::move(*content);
}

Bytes UpdateService::fetch(const std::string& url, std::int64_t limit, const Call& call, const Progress* progress,
                           Sha256* digest) {
    if (!isHTTPS(url)) {
        throw UPSError("更新地址必须使用 HTTPS");
    }
    std::exception_ptr last;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        call.throwIfCancelled();
        try {
            return fetchOnce(url, limit, call, progress, digest);
        } catch (const NetworkError& error) {
            if (!error.retryable()) {
                throw;
            }
            last = std::current_exception();
        }
        if (attempt + 1 < attempts) {
            pause(options_.pauses[static_cast<std::size_t>(attempt)], call);
        }
    }
    std::rethrow_exception(last);
}

Bytes UpdateService::fetchOnce(const std::string& url, std::int64_t limit, const Call& call, const Progress* progress,
                               Sha256* digest) {
    if (progress) {
        (*progress)(0.0);
    }
    if (digest) {
        *digest = Sha256();
    }
    Bytes body;
    body.reserve(static_cast<std::size_t>(std::min(limit, initialReserve)));
    const auto limitBytes = static_cast<std::size_t>(limit);

    const auto onBody = [&](ByteView piece) {
        // The limit holds for what arrives, whatever length was announced.
        if (piece.size() > limitBytes - body.size()) {
            throw UPSError("下载文件超过限制");
        }
        const auto before = body.size();
        body.insert(body.end(), piece.begin(), piece.end());
        if (digest) {
            digest->update(piece);
        }
        const auto step = static_cast<std::size_t>(progressStep);
        if (progress && body.size() / step != before / step) {
            const auto reached = body.size() / step * step;
            (*progress)(static_cast<double>(reached) / static_cast<double>(limit));
        }
    };

    std::string address = url;
    for (int redirects = 0;; ++redirects) {
        std::optional<std::string> next;
        transfer_->get(
            address,
            [&](const ResponseHead& head) {
                if (isRedirect(head.status) && head.redirectURL) {
                    next = head.redirectURL;
                    return BodyDisposition::skip;
                }
                if (head.status == 200) {
                    if (head.contentLength > limit) {
                        throw UPSError("下载文件过大");
                    }
                    if (head.contentLength > 0) {
                        reserveLarge(body, static_cast<std::size_t>(head.contentLength));
                    }
                    return BodyDisposition::read;
                }
                if (isRetryableStatus(head.status)) {
                    throw NetworkError::resourceUnavailable(head.status);
                }
                throw UPSError("下载失败：HTTP " + std::to_string(head.status));
            },
            onBody, call.token());
        if (!next) {
            return body;
        }
        // Checked before the next request: nothing is ever sent to a plain-text address.
        if (!isHTTPS(*next)) {
            throw UPSError("下载响应或重定向不安全");
        }
        if (redirects == maxRedirects) {
            throw NetworkError::tooManyRedirects();
        }
        address = std::move(*next);
    }
}

void UpdateService::pause(std::chrono::milliseconds duration, const Call& call) {
    // Nothing notifies: the wait ends by the stop request or the timeout.
    std::mutex mutex;
    std::condition_variable_any stopped;
    std::unique_lock lock(mutex);
    stopped.wait_for(lock, call.token(), duration, [] { return false; });
    call.throwIfCancelled();
}

} // namespace quelmar
