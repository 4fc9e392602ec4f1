#pragma once

#include "core/Bytes.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace quelmar {

// What is known of a response once its final header block is in.
struct ResponseHead {
    long status = 0;
    std::int64_t contentLength = -1;        // -1: not announced
    std::optional<std::string> redirectURL; // Location, resolved against the request's address
};

enum class BodyDisposition { read, skip };

// One libcurl connection cache and its GET requests, https only, redirects not followed. Used from one
// thread at a time.
class HttpsTransfer {
public:
    struct Settings {
        std::optional<std::filesystem::path> caFile; // none: the system's CA store
        std::chrono::milliseconds idleTimeout{25000};
        std::string userAgent;
    };

    explicit HttpsTransfer(Settings settings);
    ~HttpsTransfer();
    HttpsTransfer(const HttpsTransfer&) = delete;
    HttpsTransfer& operator=(const HttpsTransfer&) = delete;

    // onHead decides, before any body byte arrives, whether the body is wanted; onBody then receives
    // it in pieces. An exception from either ends the transfer and comes out of get() unchanged; a
    // failure of the transfer itself is a NetworkError. A stop request, from any thread, wakes the
    // transfer at once and ends it with a cancellation error.
    void get(const std::string& url, const std::function<BodyDisposition(const ResponseHead&)>& onHead,
             const std::function<void(ByteView)>& onBody, const std::stop_token& stop);

private:
    struct Handles;
    Settings settings_;
    std::unique_ptr<Handles> handles_;
};

} // namespace quelmar
