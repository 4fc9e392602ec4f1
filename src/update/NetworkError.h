#pragma once

#include <exception>
#include <string>

namespace quelmar {

// A failure of the network transfer itself, classified so that the retry rule can tell what to try
// again. Its description is the transport library's own text.
class NetworkError : public std::exception {
public:
    enum class Kind {
        timedOut,
        cannotFindHost,
        cannotConnect,
        connectionLost,
        secureConnectionFailed,
        badURL,
        tooManyRedirects,
        resourceUnavailable, // a status the server may answer differently later (408, 429, 5xx)
        certificateUntrusted,
        certificateBadDate,
        certificateUnknownRoot,
        cancelled,
        other,
    };

    NetworkError(Kind kind, std::string description, int curlCode = 0);

    // From a libcurl result; sslVerifyResult is CURLINFO_SSL_VERIFYRESULT, detail curl's error buffer.
    static NetworkError fromCurl(int curlCode, long sslVerifyResult, const std::string& detail);
    static NetworkError cancelled();
    static NetworkError resourceUnavailable(long status);
    static NetworkError tooManyRedirects();

    Kind kind() const noexcept { return kind_; }
    const std::string& description() const noexcept { return description_; }
    int curlCode() const noexcept { return curlCode_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool isCertificateError() const noexcept;
    // Everything but certificate errors and cancellation may succeed on another attempt.
    bool retryable() const noexcept { return !isCertificateError() && kind_ != Kind::cancelled; }

private:
    Kind kind_;
    std::string description_;
    int curlCode_;
};

} // namespace quelmar
