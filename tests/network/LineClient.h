#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quelmar::test {

// A plain TCP client that speaks the protocol line by line, as a person with netcat would.
class LineClient {
public:
    explicit LineClient(std::uint16_t port, const std::string& host = "127.0.0.1") {
        const bool v6 = host.find(':') != std::string::npos;
        fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length = 0;
        if (v6) {
            auto& a = reinterpret_cast<sockaddr_in6&>(address);
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port);
            ::inet_pton(AF_INET6, host.c_str(), &a.sin6_addr);
            length = sizeof a;
        } else {
            auto& a = reinterpret_cast<sockaddr_in&>(address);
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
            length = sizeof a;
        }
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            throw std::runtime_error("cannot connect to " + host + ":" + std::to_string(port));
        }
    }
    ~LineClient() { ::close(fd_); }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    void send(const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            const auto n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                throw std::runtime_error("send failed");
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void closeWriting() { ::shutdown(fd_, SHUT_WR); }

    // The next line without its line feed; none when the server closed the connection or nothing came in time.
    std::optional<std::string> line(std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (true) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                auto out = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return out;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char chunk[4096];
            const auto n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Sends one request and reads one reply line.
    std::string ask(const std::string& request) {
        send(request + "\n");
        return line().value_or("(closed)");
    }

    // Whether the server has closed the connection (within wait).
    bool closedByServer(std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        pollfd p{fd_, POLLIN, 0};
        char c = 0;
        return ::poll(&p, 1, static_cast<int>(wait.count())) == 1 && ::recv(fd_, &c, 1, MSG_PEEK) == 0;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

} // namespace quelmar::test
