#include "network/UPSServer.h"

#include "system/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quelmar {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t readChunk = 4096;
// Replies waiting for a client that does not read them stop its requests from being read, never grow past this.
constexpr std::size_t pendingLimit = 64 * 1024;
// Accepted in one round, so that a flood of connections leaves time for the clients already served.
constexpr int acceptsPerRound = 64;
// A process out of descriptors stops accepting for this long instead of spinning on the listening socket.
constexpr auto acceptPause = std::chrono::milliseconds(100);

std::system_error socketError(const std::string& what) {
    return {errno, std::generic_category(), what};
}

std::string addressOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    }
    return text;
}

// Opens one listening socket for each address the name resolves to; appends them to sockets and where they listen.
void listenOn(const ListenAddress& where, std::vector<int>& sockets, std::vector<ListenAddress>& bound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const auto service = std::to_string(where.port);
    if (const int status = ::getaddrinfo(where.host.c_str(), service.c_str(), &hints, &found); status != 0) {
        throw std::runtime_error("listen on " + where.text() + ": " + ::gai_strerror(status));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        Descriptor fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (fd.get() < 0) {
            throw socketError("listen on " + where.text());
        }
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (a->ai_family == AF_INET6) {
            ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        }
        if (::bind(fd.get(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
            throw socketError("listen on " + where.text());
        }
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
        bound.push_back({addressOf(address), ntohs(address.ss_family == AF_INET6
                                                       ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                                       : reinterpret_cast<const sockaddr_in&>(address).sin_port)});
        sockets.push_back(fd.release());
    }
}

} // namespace

struct UPSServer::Client {
    explicit Client(int socket)
        : fd(socket) {}

    Descriptor fd;
    UPSSession session;
    std::string in;  // received, not yet answered
    std::string out; // replies not yet sent, from `sent` on
    std::size_t sent = 0;
    bool skipping = false; // inside an overlong line: dropped up to its line feed
    bool loggedOut = false;
    bool peerDone = false; // the client has closed its side; what it sent is still answered
    bool failed = false;
    Clock::time_point heard;

    std::size_t pending() const { return out.size() - sent; }
    bool hasLine() const { return in.find('\n') != std::string::npos; }
    bool wantsInput() const { return !loggedOut && !peerDone && !failed && pending() < pendingLimit && !hasLine(); }
    bool finished() const { return failed || ((loggedOut || (peerDone && !hasLine())) && pending() == 0); }

    void receive(Clock::time_point now) {
        char buffer[readChunk];
        const auto n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            in.append(buffer, static_cast<std::size_t>(n));
            heard = now;
        } else if (n == 0) {
            peerDone = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            failed = true;
        }
    }

    void answer(const UPSProtocol& protocol, const UPSState& state, const UPSProtocol::Logins& logins) {
        std::size_t used = 0;
        while (!loggedOut && pending() < pendingLimit) {
            const auto end = in.find('\n', used);
            if (end == std::string::npos) {
                if (skipping) {
                    used = in.size();
                } else if (in.size() - used > UPSProtocol::maxLine) {
                    out += UPSProtocol::tooLong;
                    used = in.size();
                    skipping = true;
                }
                break;
            }
            std::string_view line(in.data() + used, end - used);
            used = end + 1;
            if (skipping) {
                skipping = false;
                continue;
            }
            if (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            if (line.size() > UPSProtocol::maxLine) {
                out += UPSProtocol::tooLong;
                continue;
            }
            auto reply = protocol.answer(session, line, state, logins);
            out += reply.text;
            loggedOut = reply.close;
        }
        in.erase(0, used);
    }

    void send() {
        while (pending() > 0) {
            const auto n = ::send(fd.get(), out.data() + sent, pending(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                failed = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        if (sent == out.size()) {
            out.clear();
            sent = 0;
        }
    }
};

UPSServer::UPSServer(UPSServerOptions options)
    : options_(std::move(options))
    , protocol_(options_.endpoint)
    , state_(std::make_shared<const UPSState>()) {
    try {
        for (const auto& where : options_.listen) {
            listenOn(where, listeners_, bound_);
        }
        for (const auto& address : bound_) {
            ports_.push_back(address.port);
        }
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) {
            throw socketError("eventfd");
        }
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        for (const int fd : listeners_) {
            ::close(fd);
        }
        if (wake_ >= 0) {
            ::close(wake_);
        }
        throw;
    }
}

UPSServer::~UPSServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    thread_.join();
    for (const int fd : listeners_) {
        ::close(fd);
    }
    ::close(wake_);
}

void UPSServer::publish(UPSState state) {
    std::shared_ptr<const UPSState> next = std::make_shared<const UPSState>(std::move(state));
    {
        std::lock_guard lock(stateMutex_);
        state_.swap(next);
    }
    // The old state goes here, outside the lock.
}

std::shared_ptr<const UPSState> UPSServer::current() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

void UPSServer::run() {
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<pollfd> fds;
    Clock::time_point acceptAgain{};
    const UPSProtocol::Logins logins = [&clients] {
        std::vector<std::string> out;
        for (const auto& c : clients) {
            if (c->session.loggedIn) {
                out.push_back(c->session.address);
            }
        }
        return out;
    };

    while (true) {
        auto now = Clock::now();
        const bool accepting = now >= acceptAgain;
        fds.clear();
        fds.push_back({wake_, POLLIN, 0});
        for (const int fd : listeners_) {
            fds.push_back({fd, static_cast<short>(accepting ? POLLIN : 0), 0});
        }
        std::optional<Clock::time_point> wakeAt;
        if (!accepting) {
            wakeAt = acceptAgain;
        }
        for (const auto& c : clients) {
            const short events = static_cast<short>((c->wantsInput() ? POLLIN : 0) | (c->pending() ? POLLOUT : 0));
            fds.push_back({c->fd.get(), events, 0});
            wakeAt = std::min(wakeAt.value_or(Clock::time_point::max()), c->heard + options_.idleTimeout);
        }
        int timeout = -1;
        if (wakeAt) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count();
            timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60'000));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            // Interrupted, or short of kernel memory for a moment: nothing was reported, so look again.
            std::this_thread::sleep_for(std::chrono::milliseconds(errno == EINTR ? 0 : 10));
            continue;
        }
        if (fds[0].revents != 0) {
            return;
        }
        now = Clock::now();
        const auto state = current();

        const std::size_t served = clients.size(); // clients accepted below are polled from the next round on
        for (std::size_t i = 0; i < served; ++i) {
            auto& c = *clients[i];
            const auto revents = fds[1 + listeners_.size() + i].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                c.receive(now);
            }
            if (revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) {
                c.answer(protocol_, *state, logins);
                c.send();
            }
        }
        for (std::size_t l = 0; l < listeners_.size(); ++l) {
            if (!(fds[1 + l].revents & POLLIN)) {
                continue;
            }
            for (int k = 0; k < acceptsPerRound; ++k) {
                sockaddr_storage address{};
                socklen_t length = sizeof address;
                const int fd = ::accept4(listeners_[l], reinterpret_cast<sockaddr*>(&address), &length,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                        acceptAgain = now + acceptPause;
                    }
                    break;
                }
                if (clients.size() >= options_.maxClients) {
                    ::close(fd);
                    continue;
                }
                auto client = std::make_unique<Client>(fd);
                client->session.address = addressOf(address);
                client->heard = now;
                clients.push_back(std::move(client));
            }
        }
        std::erase_if(clients, [&](const auto& c) { return c->finished() || now - c->heard >= options_.idleTimeout; });
    }
}

} // namespace quelmar
