#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quelmar::test {

// A plain TCP client that speaks the protocol line by line, as a person with netcat would.
class LineClient {
public:
    explicit LineClient(std::uint16_t port, const std::string& host = "127.0.0.1") {
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
        fd_ = found ? ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
        if (fd_ < 0 || ::connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
            throw std::runtime_error("cannot connect to " + host);
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

    // The next line without its line feed; none once the server has closed or when nothing comes within 5 s.
    std::optional<std::string> line() {
        std::size_t end = 0;
        while ((end = buffer_.find('\n')) == std::string::npos) {
            char chunk[4096];
            pollfd p{fd_, POLLIN, 0};
            const auto n = ::poll(&p, 1, 5000) == 1 ? ::recv(fd_, chunk, sizeof chunk, 0) : -1;
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

    // Whether the server has closed the connection, waiting at most wait for it.
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
