#include "LineClient.h"
#include "network/UPSServer.h"

#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;

namespace {

const UPSState onMains{false, {{"battery.charge", "87", true}, {"ups.status", "OL CHRG", false}}};

std::unique_ptr<UPSServer> serve(std::size_t maxClients = 16, std::chrono::milliseconds idle = 60s,
                                 const std::string& address = "127.0.0.1:0") {
    UPSServerOptions options;
    options.listen = {ListenAddress::parse(address)};
    options.endpoint = {"quelmar", "Quelmar DC UPS", "Quelmar 2.0.1", {{"mon", "secret"}}};
    options.maxClients = maxClients;
    options.idleTimeout = idle;
    return std::make_unique<UPSServer>(options);
}

} // namespace

TEST(UPSServer, LinesMaySpanReadsAndEndInCRLF) {
    const auto server = serve();
    LineClient client(server->ports()[0]);
    client.send("NET");
    std::this_thread::sleep_for(20ms);
    client.send("VER\r\nVER\n");
    EXPECT_EQ(client.line(), "1.3");
    EXPECT_EQ(client.line(), "Quelmar 2.0.1");
}

TEST(UPSServer, ServesWhatWasLastPublishedAndStaleBefore) {
    const auto server = serve();
    LineClient client(server->ports()[0]);
    EXPECT_EQ(client.ask("GET VAR quelmar ups.status"), "ERR DATA-STALE");
    server->publish(onMains);
    EXPECT_EQ(client.ask("GET VAR quelmar ups.status"), "VAR quelmar ups.status \"OL CHRG\"");
    server->publish(UPSState{});
    EXPECT_EQ(client.ask("GET VAR quelmar ups.status"), "ERR DATA-STALE");
}

TEST(UPSServer, OverlongLinesAreRefusedAndTheConnectionStaysUsable) {
    const auto server = serve();
    LineClient client(server->ports()[0]);
    // Refused as soon as it passes the limit, before its line feed arrives.
    client.send(std::string(UPSProtocol::maxLine + 1, 'A'));
    EXPECT_EQ(client.line(), "ERR TOO-LONG");
    client.send(std::string(100'000, 'B') + "\nNETVER\n");
    EXPECT_EQ(client.line(), "1.3");
    // A whole overlong line in one piece has one reply too; a line of exactly the limit is still read.
    client.send(std::string(3000, 'C') + "\n" + std::string(UPSProtocol::maxLine - 6, ' ') + "NETVER\n");
    EXPECT_EQ(client.line(), "ERR TOO-LONG");
    EXPECT_EQ(client.line(), "1.3");
    client.send(std::string("\0\xff\"\n", 4) + "LOGIN\nNETVER\n");
    EXPECT_EQ(client.line(), "ERR INVALID-ARGUMENT");
    EXPECT_EQ(client.line(), "ERR INVALID-ARGUMENT");
    EXPECT_EQ(client.line(), "1.3");
}

TEST(UPSServer, LogoutAndAClosedSideEndTheConnectionAfterTheReplies) {
    const auto server = serve();
    LineClient leaving(server->ports()[0]);
    leaving.send("NETVER\nLOGOUT\nNETVER\n");
    EXPECT_EQ(leaving.line(), "1.3");
    EXPECT_EQ(leaving.line(), "OK Goodbye");
    EXPECT_TRUE(leaving.closedByServer());

    LineClient halfClosed(server->ports()[0]);
    halfClosed.send("LIST UPS\n");
    halfClosed.closeWriting();
    EXPECT_EQ(halfClosed.line(), "BEGIN LIST UPS");
    EXPECT_EQ(halfClosed.line(), "UPS quelmar \"Quelmar DC UPS\"");
    EXPECT_EQ(halfClosed.line(), "END LIST UPS");
    EXPECT_TRUE(halfClosed.closedByServer());
}

TEST(UPSServer, SilentClientsAreDropped) {
    const auto server = serve(16, 300ms);
    LineClient silent(server->ports()[0]);
    LineClient talking(server->ports()[0]);
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(talking.ask("NETVER"), "1.3");
    }
    EXPECT_TRUE(silent.closedByServer(0ms));
    EXPECT_FALSE(talking.closedByServer(0ms));
}

TEST(UPSServer, ClientsBeyondTheLimitAreClosedAndLoginsAreCounted) {
    const auto server = serve(2);
    LineClient first(server->ports()[0]);
    LineClient second(server->ports()[0]);
    EXPECT_EQ(first.ask("USERNAME mon"), "OK");
    EXPECT_EQ(first.ask("PASSWORD secret"), "OK");
    EXPECT_EQ(first.ask("LOGIN quelmar"), "OK");
    LineClient third(server->ports()[0]);
    EXPECT_TRUE(third.closedByServer());
    EXPECT_EQ(second.ask("GET NUMLOGINS quelmar"), "NUMLOGINS quelmar 1");
    EXPECT_EQ(second.ask("LIST CLIENT quelmar"), "BEGIN LIST CLIENT quelmar");
    EXPECT_EQ(second.line(), "CLIENT quelmar 127.0.0.1");
}

TEST(UPSServer, AClientThatNeverReadsDoesNotHoldUpTheOthers) {
    auto server = serve();
    server->publish(onMains);
    LineClient flooding(server->ports()[0]);
    std::string requests;
    for (int i = 0; i < 100'000; ++i) {
        requests += "LIST VAR quelmar\n";
    }
    // Blocks once the replies fill every buffer on the way, until the server goes.
    std::thread flood([&] {
        try {
            flooding.send(requests);
        } catch (const std::runtime_error&) {
        }
    });
    LineClient other(server->ports()[0]);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(other.ask("GET VAR quelmar battery.charge"), "VAR quelmar battery.charge \"87\"");
        server->publish(onMains);
    }
    server.reset();
    flood.join();
}

TEST(UPSServer, ListensOnIPv6Loopback) {
    std::unique_ptr<UPSServer> server;
    try {
        server = serve(16, 60s, "[::1]:0");
    } catch (const std::system_error& e) {
        GTEST_SKIP() << "no IPv6 loopback: " << e.what();
    }
    LineClient client(server->ports()[0], "::1");
    EXPECT_EQ(client.ask("NETVER"), "1.3");
}

TEST(UPSServer, AnAddressInUseIsNamed) {
    const auto first = serve();
    const auto address = "127.0.0.1:" + std::to_string(first->ports()[0]);
    EXPECT_THAT([&] { serve(16, 60s, address); },
                testing::ThrowsMessage<std::system_error>(testing::StartsWith("listen on " + address + ": ")));
}
