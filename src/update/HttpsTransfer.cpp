#include "update/HttpsTransfer.h"

#include "update/CurlLibrary.h"
#include "update/NetworkError.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace quelmar {

namespace {

const Curl::Library& curl() {
    return Curl::library();
}

constexpr long receiveBuffer = 512 * 1024;

void initialiseCurl() {
    static const CURLcode result = curl().global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        throw std::runtime_error(std::string("libcurl: ") + curl().easy_strerror(result));
    }
}

struct Exchange {
    CURL* easy = nullptr;
    const std::string* url = nullptr;
    std::optional<std::string> location; // of the header block being read
    const std::function<BodyDisposition(const ResponseHead&)>* onHead = nullptr;
    const std::function<void(ByteView)>* onBody = nullptr;
    std::chrono::steady_clock::time_point lastActivity;
    bool headSeen = false;
    bool skipped = false;
    std::exception_ptr failure;
};

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// A Location value resolved against the address that answered; as written when it cannot be.
std::string resolve(const std::string& base, const std::string& location) {
    CURLU* url = curl().url();
    std::string out = location;
    char* resolved = nullptr;
    if (url && curl().url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl().url_set(url, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl().url_get(url, CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
        out = resolved;
    }
    curl().free(resolved);
    curl().url_cleanup(url);
    return out;
}

// Called once per header line, for every header block (1xx, final, trailers).
std::size_t headerLine(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    exchange.lastActivity = std::chrono::steady_clock::now();
    const std::string_view line(data, size * count);
    if (exchange.headSeen) {
        return size * count;
    }
    if (line.starts_with("HTTP/")) {
        exchange.location.reset();
    } else if (startsWithIgnoringCase(line, "location:") && !exchange.location) {
        exchange.location = std::string(trimmed(line.substr(9)));
    }
    if (line != "\r\n" && line != "\n") {
        return size * count;
    }
    long status = 0;
    curl().easy_getinfo(exchange.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) {
        return size * count; // an interim response; the final one follows
    }
    exchange.headSeen = true;
    ResponseHead head;
    head.status = status;
    curl_off_t length = -1;
    curl().easy_getinfo(exchange.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    head.contentLength = length;
    // libcurl resolves a redirect only once a transfer ends; ours may end here.
    if (exchange.location && !exchange.location->empty()) {
        head.redirectURL = resolve(*exchange.url, *exchange.location);
    }
    try {
        if ((*exchange.onHead)(head) == BodyDisposition::skip) {
            exchange.skipped = true;
            return 0;
        }
    } catch (...) {
        exchange.failure = std::current_exception();
        return 0;
    }
    return size * count;
}

std::size_t bodyData(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    exchange.lastActivity = std::chrono::steady_clock::now();
    if (!exchange.headSeen || exchange.skipped) {
        return 0;
    }
    try {
        (*exchange.onBody)(ByteView(reinterpret_cast<const std::uint8_t*>(data), size * count));
    } catch (...) {
        exchange.failure = std::current_exception();
        return 0;
    }
    return size * count;
}

void set(CURLcode result) {
    if (result != CURLE_OK) {
        throw std::runtime_error(std::string("libcurl option: ") + curl().easy_strerror(result));
    }
}

} // namespace

struct HttpsTransfer::Handles {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    ~Handles() {
        if (easy) {
            curl().easy_cleanup(easy);
        }
        if (multi) {
            curl().multi_cleanup(multi);
        }
    }
};

HttpsTransfer::HttpsTransfer(Settings settings)
    : settings_(std::move(settings))
    , handles_(std::make_unique<Handles>()) {
    initialiseCurl();
    handles_->multi = curl().multi_init();
    handles_->easy = curl().easy_init();
    if (!handles_->multi || !handles_->easy) {
        throw std::runtime_error("libcurl could not start");
    }
}

HttpsTransfer::~HttpsTransfer() = default;

void HttpsTransfer::get(const std::string& url, const std::function<BodyDisposition(const ResponseHead&)>& onHead,
                        const std::function<void(ByteView)>& onBody, const std::stop_token& stop) {
    // A fresh handle for every request: libcurl 7.88 refuses a new receive buffer size on a handle whose last
    // request failed in name resolution. Connections stay cached in the multi handle, so chunks from one host
    // still share one TLS session.
    if (CURL* fresh = curl().easy_init()) {
        curl().easy_cleanup(handles_->easy);
        handles_->easy = fresh;
    } else {
        throw std::runtime_error("libcurl could not start a transfer");
    }
    CURL* easy = handles_->easy;
    CURLM* multi = handles_->multi;
    Exchange exchange;
    exchange.easy = easy;
    exchange.url = &url;
    exchange.onHead = &onHead;
    exchange.onBody = &onBody;
    char errorText[CURL_ERROR_SIZE] = {};

    set(curl().easy_setopt(easy, CURLOPT_URL, url.c_str()));
    set(curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https"));
    set(curl().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https"));
    set(curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl().easy_setopt(easy, CURLOPT_HTTPGET, 1L));
    set(curl().easy_setopt(easy, CURLOPT_USERAGENT, settings_.userAgent.c_str()));
    set(curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
    // Identity only: the digest covers the bytes as sent, and a compressed body could expand past the limit.
    set(curl().easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L));
    set(curl().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
    if (settings_.caFile) {
        set(curl().easy_setopt(easy, CURLOPT_CAINFO, settings_.caFile->c_str()));
        set(curl().easy_setopt(easy, CURLOPT_CAPATH, nullptr));
    }
    const auto idle = settings_.idleTimeout;
    set(curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.count())));
    set(curl().easy_setopt(easy, CURLOPT_BUFFERSIZE, receiveBuffer));
    set(curl().easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText));
    set(curl().easy_setopt(easy, CURLOPT_HEADERFUNCTION, headerLine));
    set(curl().easy_setopt(easy, CURLOPT_HEADERDATA, &exchange));
    set(curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, bodyData));
    set(curl().easy_setopt(easy, CURLOPT_WRITEDATA, &exchange));

    if (curl().multi_add_handle(multi, easy) != CURLM_OK) {
        throw std::runtime_error("libcurl could not start a transfer");
    }
    // The only use of the handles off this thread: the callback runs on the thread that requests the
    // stop, curl_multi_wakeup may be called from any thread, and the callback's destructor waits for a
    // running call, so no wake outlives this get().
    const std::stop_callback wake(stop, [multi] { curl().multi_wakeup(multi); });
    CURLcode result = CURLE_OK;
    bool stopped = false;
    int running = 1;
    exchange.lastActivity = std::chrono::steady_clock::now();
    while (running > 0) {
        if (curl().multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        // The timeout counts time without any byte arriving, not the length of the whole transfer.
        // (libcurl's low-speed limit averages over several seconds and would end a stall late.)
        const auto idleFor = std::chrono::steady_clock::now() - exchange.lastActivity;
        if (running > 0 && idleFor >= idle) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        if (running > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(idle - idleFor).count() + 1;
            curl().multi_poll(multi, nullptr, 0, static_cast<int>(std::min<std::int64_t>(left, 1000)), nullptr);
        }
    }
    if (!stopped && running == 0 && result == CURLE_OK) {
        int left = 0;
        while (CURLMsg* message = curl().multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
            }
        }
    }
    long verifyResult = 0;
    curl().easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    curl().multi_remove_handle(multi, easy);
    curl().easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

    if (exchange.failure) {
        std::rethrow_exception(exchange.failure);
    }
    if (stopped) {
        throw NetworkError::cancelled();
    }
    if (exchange.skipped) {
        return;
    }
    if (result != CURLE_OK) {
        throw NetworkError::fromCurl(result, verifyResult, errorText);
    }
    if (!exchange.headSeen) {
        throw NetworkError::fromCurl(CURLE_GOT_NOTHING, 0, "");
    }
}

} // namespace quelmar
