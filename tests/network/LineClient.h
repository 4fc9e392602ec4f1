#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quelmar::test {

// A plain TCP client that speaks the protocol line by line, as a person with netcat would. Reads wait at most 5 s.
class LineClient {
public:
    explicit LineClient(std::uint16_t port, const std::string& host = "127.0.0.1") {
        const addrinfo hints{AI_NUMERICHOST, AF_UNSPEC, SOCK_STREAM, 0, 0, nullptr, nullptr, nullptr};
        addrinfo* found = nullptr;
        ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
        fd_ = found ? ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
        const timeval wait{5, 0};
        if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
            ::connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
            throw std::runtime_error("cannot connect to " + host);
        }
    }
    ~LineClient() { ::close(fd_); }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    void send(const std::string& text) {
        if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("send failed");
        }
    }
    void closeWriting() { ::shutdown(fd_, SHUT_WR); }

    // The next line without its line feed; none once the server has closed, or when nothing comes in time.
    std::optional<std::string> line() {
        std::size_t end = 0;
        while ((end = buffer_.find('\n')) == std::string::npos) {
            char chunk[4096];
            const auto n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        auto out = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return out;
    }

    std::string ask(const std::string& request) {
        send(request + "\n");
        return line().value_or("(closed)");
    }

    // Whether the server has closed the connection; waits for it unless now.
    bool closedByServer(bool now = false) {
        char c = 0;
        return ::recv(fd_, &c, 1, MSG_PEEK | (now ? MSG_DONTWAIT : 0)) == 0;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

} // namespace quelmar::test
