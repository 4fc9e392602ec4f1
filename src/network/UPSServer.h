#pragma once

#include "core/UPSVariables.h"
#include "network/ListenAddress.h"
#include "network/UPSProtocol.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quelmar {

struct UPSServerOptions {
    std::vector<ListenAddress> listen{ListenAddress{"127.0.0.1", 3493}};
    UPSEndpoint endpoint;
    // Connections beyond this are closed as soon as they are accepted.
    std::size_t maxClients = 256;
    // A client silent this long is dropped.
    std::chrono::milliseconds idleTimeout{60'000};
};

// The read-only endpoint of the UPS network protocol on TCP. One thread of its own waits on every socket with
// poll(); requests are answered from the state last published, which any thread may replace at any time without
// waiting on the clients. Request lines, replies waiting to be sent and the number of clients are bounded, so a
// flood of connections or of requests cannot grow memory or starve the others.
class UPSServer {
public:
    // Listens on every address given (a host name: every address it resolves to) and starts serving, stale until
    // the first publish. Throws std::system_error naming the address that cannot be listened on (std::runtime_error
    // for a name that does not resolve).
    explicit UPSServer(UPSServerOptions options);
    // Stops the thread and closes every connection.
    ~UPSServer();
    UPSServer(const UPSServer&) = delete;
    UPSServer& operator=(const UPSServer&) = delete;

    // Replaces what the endpoint serves. Never blocks on the network.
    void publish(UPSState state);
    // The port of each listening socket, in the order bound (tells tests which port 0 became).
    const std::vector<std::uint16_t>& ports() const { return ports_; }
    // Where each listening socket listens, its address in numbers, in the same order.
    const std::vector<ListenAddress>& addresses() const { return bound_; }

private:
    struct Client;
    void run();
    std::shared_ptr<const UPSState> current() const;

    UPSServerOptions options_;
    UPSProtocol protocol_;
    std::vector<int> listeners_;
    std::vector<ListenAddress> bound_;
    std::vector<std::uint16_t> ports_;
    int wake_ = -1; // an eventfd that ends the thread's wait

    mutable std::mutex stateMutex_; // guards state_ alone, held only to swap or copy the pointer
    std::shared_ptr<const UPSState> state_;

    std::thread thread_;
};

} // namespace quelmar
