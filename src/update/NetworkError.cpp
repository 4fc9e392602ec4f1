#include "update/NetworkError.h"

#include "update/CurlLibrary.h"

#include <utility>

#include <openssl/x509_vfy.h>

namespace quelmar {

namespace {

const Curl::Library& curl() {
    return Curl::library();
}

NetworkError::Kind certificateKind(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
        return NetworkError::Kind::certificateBadDate;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return NetworkError::Kind::certificateUnknownRoot;
    default:
        return NetworkError::Kind::certificateUntrusted;
    }
}

NetworkError::Kind kindOf(CURLcode code, long verifyResult) {
    using Kind = NetworkError::Kind;
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return Kind::timedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Kind::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return Kind::cannotConnect;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return Kind::connectionLost;
    case CURLE_SSL_CONNECT_ERROR:
        return Kind::secureConnectionFailed;
    case CURLE_URL_MALFORMAT:
        return Kind::badURL;
    case CURLE_TOO_MANY_REDIRECTS:
        return Kind::tooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
        return certificateKind(verifyResult);
    // Trust cannot be established at all: no point in trying again.
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return Kind::certificateUntrusted;
    case CURLE_ABORTED_BY_CALLBACK:
        return Kind::cancelled;
    default:
        return Kind::other;
    }
}

} // namespace

NetworkError::NetworkError(Kind kind, std::string description, int curlCode)
    : kind_(kind)
    , description_(std::move(description))
    , curlCode_(curlCode) {}

NetworkError NetworkError::fromCurl(int curlCode, long sslVerifyResult, const std::string& detail) {
    const auto code = static_cast<CURLcode>(curlCode);
    return NetworkError(kindOf(code, sslVerifyResult), detail.empty() ? curl().easy_strerror(code) : detail, curlCode);
}

NetworkError NetworkError::cancelled() {
    return NetworkError(Kind::cancelled, curl().easy_strerror(CURLE_ABORTED_BY_CALLBACK), CURLE_ABORTED_BY_CALLBACK);
}

NetworkError NetworkError::resourceUnavailable(long status) {
    return NetworkError(Kind::resourceUnavailable,
                        "The requested resource is unavailable (HTTP " + std::to_string(status) + ")");
}

NetworkError NetworkError::tooManyRedirects() {
    return NetworkError(Kind::tooManyRedirects, curl().easy_strerror(CURLE_TOO_MANY_REDIRECTS),
                        CURLE_TOO_MANY_REDIRECTS);
}

bool NetworkError::isCertificateError() const noexcept {
    return kind_ == Kind::certificateUntrusted || kind_ == Kind::certificateBadDate ||
           kind_ == Kind::certificateUnknownRoot;
}

} // namespace quelmar
