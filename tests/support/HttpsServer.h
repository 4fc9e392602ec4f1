#pragma once

#include "TemporaryDirectory.h"
#include "core/Bytes.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar::test {

// A test certificate authority and server certificates for 127.0.0.1, made with openssl once per
// process.
struct TestCertificates {
    std::filesystem::path caFile;

    static const TestCertificates& shared();
};

// The project's loopback server (tests/support/https_server.py) in a process of its own: HTTPS with
// the chosen certificate, and plain HTTP beside it. Its paths are described in the script.
class HttpsServer {
public:
    enum class Certificate {
        valid,       // issued by TestCertificates::caFile for 127.0.0.1
        expired,     // the same, but no longer valid
        unknownRoot, // issued by another authority
        wrongHost,   // issued by the test authority for another name
    };

    explicit HttpsServer(Certificate certificate = Certificate::valid);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    std::string url(std::string_view path) const;      // https://127.0.0.1:PORT + path
    std::string plainURL(std::string_view path) const; // http://127.0.0.1:PORT + path
    const std::filesystem::path& caFile() const { return TestCertificates::shared().caFile; }

    // Served as /files/NAME and the other file paths.
    void addFile(const std::string& name, ByteView bytes) const;
    void addFile(const std::string& name, std::string_view text) const;

    // Every request so far, in order: {"scheme", "method", "path", "headers", "time"}, and TLS
    // handshakes that failed: {"event": "tls-failure"}.
    std::vector<nlohmann::json> log() const;
    std::size_t requestCount() const;

private:
    TemporaryDirectory directory_;
    int pid_ = -1;
    int input_ = -1; // the server runs until this pipe closes
    int httpsPort_ = 0;
    int httpPort_ = 0;
};

} // namespace quelmar::test
