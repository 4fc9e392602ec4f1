#include "HttpsServer.h"

#include "Process.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quelmar::test {

namespace fs = std::filesystem;

namespace {

void openssl(const std::vector<std::string>& arguments, const fs::path& directory) {
    ProcessOptions options;
    options.workingDirectory = directory.string();
    const auto result = runProcess(QUELMAR_OPENSSL, arguments, options);
    if (result.status != 0) {
        throw std::runtime_error("openssl failed: " + result.err);
    }
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

const std::vector<std::string> ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void makeAuthority(const fs::path& directory, const std::string& name) {
    openssl(concat(concat({"req", "-x509"}, ecKey),
                   {"-keyout", name + ".key", "-out", name + ".pem", "-subj", "/CN=" + name, "-days", "2", "-addext",
                    "basicConstraints=critical,CA:TRUE"}),
            directory);
}

void issue(const fs::path& directory, const std::string& name, const std::string& authority, const std::string& san,
           const std::string& days) {
    writeText(directory / (name + ".ext"), "subjectAltName=" + san + "\n");
    openssl(concat(concat({"req", "-new"}, ecKey),
                   {"-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name}),
            directory);
    openssl({"x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey", authority + ".key",
             "-CAcreateserial", "-out", name + ".pem", "-days", days, "-extfile", name + ".ext"},
            directory);
}

std::string certificateName(HttpsServer::Certificate certificate) {
    switch (certificate) {
    case HttpsServer::Certificate::valid:
        return "valid";
    case HttpsServer::Certificate::expired:
        return "expired";
    case HttpsServer::Certificate::unknownRoot:
        return "foreign";
    case HttpsServer::Certificate::wrongHost:
        return "wronghost";
    }
    return "valid";
}

const fs::path& certificateDirectory() {
    static const TemporaryDirectory directory;
    return directory.path();
}

} // namespace

const TestCertificates& TestCertificates::shared() {
    static const TestCertificates certificates = [] {
        const auto& directory = certificateDirectory();
        makeAuthority(directory, "authority");
        makeAuthority(directory, "stranger");
        issue(directory, "valid", "authority", "IP:127.0.0.1,DNS:localhost", "2");
        issue(directory, "expired", "authority", "IP:127.0.0.1,DNS:localhost", "-1");
        issue(directory, "foreign", "stranger", "IP:127.0.0.1,DNS:localhost", "2");
        issue(directory, "wronghost", "authority", "DNS:updates.example.org", "2");
        return TestCertificates{directory / "authority.pem"};
    }();
    return certificates;
}

HttpsServer::HttpsServer(Certificate certificate) {
    TestCertificates::shared();
    const auto name = certificateName(certificate);
    const auto certificates = certificateDirectory();
    fs::create_directory(directory_.path() / "root");

    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::vector<std::string> arguments = {QUELMAR_PYTHON, QUELMAR_HTTPS_SERVER,
                                          "--cert",       (certificates / (name + ".pem")).string(),
                                          "--key",        (certificates / (name + ".key")).string(),
                                          "--root",       (directory_.path() / "root").string(),
                                          "--log",        (directory_.path() / "log.jsonl").string()};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, QUELMAR_PYTHON, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    if (spawned != 0) {
        ::close(output[0]);
        ::close(input_);
        throw std::system_error(spawned, std::generic_category(), "posix_spawn " QUELMAR_PYTHON);
    }

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{output[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = ::read(output[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(output[0]);
    if (std::sscanf(line.c_str(), "READY https=%d http=%d", &httpsPort_, &httpPort_) != 2) {
        throw std::runtime_error("the test server did not start: " + line);
    }
}

HttpsServer::~HttpsServer() {
    ::close(input_);
    int status = 0;
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
}

std::string HttpsServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(httpsPort_) + std::string(path);
}

std::string HttpsServer::plainURL(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + std::string(path);
}

void HttpsServer::addFile(const std::string& name, ByteView bytes) const {
    std::ofstream out(directory_.path() / "root" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + name);
    }
}

void HttpsServer::addFile(const std::string& name, std::string_view text) const {
    addFile(name, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<nlohmann::json> HttpsServer::log() const {
    std::vector<nlohmann::json> entries;
    std::ifstream in(directory_.path() / "log.jsonl", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A line still being written has no line feed yet.
    for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        entries.push_back(nlohmann::json::parse(text.substr(begin, end - begin)));
    }
    return entries;
}

std::size_t HttpsServer::requestCount() const {
    std::size_t count = 0;
    for (const auto& entry : log()) {
        count += entry.contains("path") ? 1 : 0;
    }
    return count;
}

} // namespace quelmar::test
