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
    return std::make_unique<UPSServer>(
        UPSServerOptions{{ListenAddress::parse(address)},
                         {"quelmar", "Quelmar DC UPS", "Quelmar 2.0.1", {{"mon", "secret"}}},
                         maxClients,
                         idle});
}

} // namespace

TEST(UPSServer, BadLinesAreRefusedAndTheConnectionStaysUsable) {
    const auto server = serve();
    LineClient client(server->ports()[0]);
    client.send("NET");
    std::this_thread::sleep_for(20ms);
    client.send("VER\r\n");
    EXPECT_EQ(client.line(), "1.3");
    // Refused as soon as it passes the limit, before its line feed arrives, and dropped up to it.
    client.send(std::string(UPSProtocol::maxLine + 1, 'A'));
    EXPECT_EQ(client.line(), "ERR TOO-LONG");
    client.send(std::string(100'000, 'B') + "\nNETVER\n");
    EXPECT_EQ(client.line(), "1.3");
    // A whole overlong line in one piece has one reply too; a line of exactly the limit is still read.
    client.send(std::string(3000, 'C') + "\n" + std::string(UPSProtocol::maxLine - 6, ' ') + "NETVER\n");
    EXPECT_EQ(client.line(), "ERR TOO-LONG");
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
    halfClosed.send("GET UPSDESC quelmar\n");
    halfClosed.closeWriting();
    EXPECT_EQ(halfClosed.line(), "UPSDESC quelmar \"Quelmar DC UPS\"");
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
    EXPECT_TRUE(silent.closedByServer(true));
    EXPECT_FALSE(talking.closedByServer(true));
}

TEST(UPSServer, ClientsBeyondTheLimitAreClosedAndLoginsAreCounted) {
    const auto server = serve(2);
    LineClient first(server->ports()[0]);
    LineClient second(server->ports()[0]);
    for (const char* request : {"USERNAME mon", "PASSWORD secret", "LOGIN quelmar"}) {
        EXPECT_EQ(first.ask(request), "OK");
    }
    LineClient third(server->ports()[0]);
    EXPECT_TRUE(third.closedByServer());
    EXPECT_EQ(second.ask("GET NUMLOGINS quelmar"), "NUMLOGINS quelmar 1");
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

TEST(UPSServer, ListensOnIPv6LoopbackAndNamesAnAddressInUse) {
    const auto v4 = serve();
    const auto address = "127.0.0.1:" + std::to_string(v4->ports()[0]);
    EXPECT_THAT([&] { serve(16, 60s, address); },
                testing::ThrowsMessage<std::system_error>(testing::StartsWith("listen on " + address + ": ")));
    try {
        const auto v6 = serve(16, 60s, "[::1]:0");
        EXPECT_EQ(LineClient(v6->ports()[0], "::1").ask("NETVER"), "1.3");
    } catch (const std::system_error& e) {
        GTEST_SKIP() << "no IPv6 loopback: " << e.what();
    }
}
