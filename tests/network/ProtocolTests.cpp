#include "TemporaryDirectory.h"
#include "network/ListenAddress.h"
#include "network/UPSProtocol.h"
#include "network/UsersFile.h"

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::HasSubstr;
using Exchange = std::pair<std::string, std::string>; // a request line and the whole reply

namespace {

const UPSState onMains{false, {{"battery.charge", "87", true}, {"ups.status", "OL CHRG", false}}};

UPSProtocol protocol(UPSUsers users = {{"mon", "secret"}}) {
    return UPSProtocol(UPSEndpoint{"quelmar", "Quelmar DC UPS", "Quelmar 2.0.1", std::move(users)});
}

// Runs the requests in order on one connection; only LOGOUT may end it.
void converse(const UPSProtocol& p, const UPSState& state, const std::vector<Exchange>& exchanges) {
    UPSSession session;
    session.address = "127.0.0.1";
    const UPSProtocol::Logins logins = [] { return std::vector<std::string>{"127.0.0.1", "::1"}; };
    for (const auto& [request, reply] : exchanges) {
        const auto answer = p.answer(session, request, state, logins);
        EXPECT_EQ(answer.text, reply) << request;
        EXPECT_EQ(answer.close, request == "LOGOUT") << request;
    }
}

} // namespace

TEST(UPSProtocol, AnswersReadsToAnyone) {
    converse(
        protocol(), onMains,
        {
            {"VER", "Quelmar 2.0.1\n"},
            {"NETVER", "1.3\n"},
            {"STARTTLS", "ERR FEATURE-NOT-CONFIGURED\n"},
            {"list ups", "BEGIN LIST UPS\nUPS quelmar \"Quelmar DC UPS\"\nEND LIST UPS\n"},
            {"LIST VAR quelmar", "BEGIN LIST VAR quelmar\nVAR quelmar battery.charge \"87\"\n"
                                 "VAR quelmar ups.status \"OL CHRG\"\nEND LIST VAR quelmar\n"},
            {"GET VAR quelmar ups.status", "VAR quelmar ups.status \"OL CHRG\"\n"},
            {"GET TYPE quelmar battery.charge", "TYPE quelmar battery.charge NUMBER\n"},
            {"GET TYPE quelmar ups.status", "TYPE quelmar ups.status STRING:7\n"},
            {"GET DESC quelmar ups.status", "DESC quelmar ups.status \"UPS status\"\n"},
            {"GET UPSDESC quelmar", "UPSDESC quelmar \"Quelmar DC UPS\"\n"},
            {"GET NUMLOGINS quelmar", "NUMLOGINS quelmar 2\n"},
            {"GET TRACKING", "OFF\n"},
            {"LIST ENUM quelmar ups.status", "BEGIN LIST ENUM quelmar ups.status\nEND LIST ENUM quelmar ups.status\n"},
            {"LIST RANGE quelmar battery.charge",
             "BEGIN LIST RANGE quelmar battery.charge\nEND LIST RANGE quelmar battery.charge\n"},
            {"GET CMDDESC quelmar load.off", "ERR CMD-NOT-SUPPORTED\n"},
            // what is not there
            {"GET VAR quelmar ups.mfr", "ERR VAR-NOT-SUPPORTED\n"},
            {"LIST RANGE quelmar \"a b\"", "ERR VAR-NOT-SUPPORTED\n"},
            {"GET VAR ups ups.status", "ERR UNKNOWN-UPS\n"},
            {"LIST VAR Quelmar", "ERR UNKNOWN-UPS\n"},
            // malformed and unknown
            {"GET VAR quelmar", "ERR INVALID-ARGUMENT\n"},
            {"GET", "ERR INVALID-ARGUMENT\n"},
            {"LIST FOO quelmar", "ERR INVALID-ARGUMENT\n"},
            {"GET VAR \"quelmar ups.status", "ERR INVALID-ARGUMENT\n"},
            {std::string("GET\0VAR", 7), "ERR INVALID-ARGUMENT\n"},
            {"REQ ups.status", "ERR UNKNOWN-COMMAND\n"},
            {"  ", ""},
            {"LOGOUT", "OK Goodbye\n"},
        });
}

TEST(UPSProtocol, RefusesEveryChangeBeforeAndAfterCredentials) {
    converse(protocol(), onMains,
             {
                 {"SET VAR quelmar ups.status OB", "ERR USERNAME-REQUIRED\n"},
                 {"INSTCMD quelmar shutdown.return", "ERR USERNAME-REQUIRED\n"},
                 {"LOGIN quelmar", "ERR USERNAME-REQUIRED\n"},
                 {"USERNAME mon", "OK\n"},
                 {"FSD quelmar", "ERR PASSWORD-REQUIRED\n"},
                 {"LOGIN quelmar", "ERR PASSWORD-REQUIRED\n"},
                 {"USERNAME other", "ERR ALREADY-SET-USERNAME\n"},
                 {"PASSWORD wrong", "OK\n"},
                 {"PASSWORD secret", "ERR ALREADY-SET-PASSWORD\n"},
                 {"LOGIN quelmar", "ERR ACCESS-DENIED\n"},
                 {"PRIMARY quelmar", "ERR ACCESS-DENIED\n"},
                 {"SET TRACKING ON", "ERR ACCESS-DENIED\n"},
                 {"LOGOUT", "OK Goodbye\n"},
             });
}

TEST(UPSProtocol, SecondaryMonitorLogsInOnce) {
    converse(protocol(), onMains,
             {
                 {"USERNAME mon", "OK\n"},
                 {"PASSWORD secret", "OK\n"},
                 {"LOGIN ups", "ERR UNKNOWN-UPS\n"},
                 {"LOGIN quelmar", "OK\n"},
                 {"LOGIN quelmar", "ERR ALREADY-LOGGED-IN\n"},
                 {"MASTER quelmar", "ERR ACCESS-DENIED\n"},
                 {"SET VAR quelmar ups.status OB", "ERR ACCESS-DENIED\n"},
                 {"GET VAR quelmar ups.status", "VAR quelmar ups.status \"OL CHRG\"\n"},
                 {"LOGOUT", "OK Goodbye\n"},
             });
    // Without a users file nobody logs in.
    converse(protocol({}), onMains,
             {{"USERNAME mon", "OK\n"}, {"PASSWORD secret", "OK\n"}, {"LOGIN quelmar", "ERR ACCESS-DENIED\n"}});
}

TEST(UPSProtocol, StaleDataIsRefusedButTheUPSStaysListed) {
    converse(protocol(), UPSState{},
             {
                 {"GET VAR quelmar ups.status", "ERR DATA-STALE\n"},
                 {"LIST VAR quelmar", "ERR DATA-STALE\n"},
                 {"LIST UPS", "BEGIN LIST UPS\nUPS quelmar \"Quelmar DC UPS\"\nEND LIST UPS\n"},
                 {"GET DESC quelmar ups.status", "DESC quelmar ups.status \"UPS status\"\n"},
             });
}

TEST(UPSProtocol, RequestWords) {
    EXPECT_THAT(*requestWords(" GET\tVAR  quelmar ups.status "), ElementsAre("GET", "VAR", "quelmar", "ups.status"));
    EXPECT_THAT(*requestWords(R"(SET VAR q x "a b" "")"), ElementsAre("SET", "VAR", "q", "x", "a b", ""));
    EXPECT_THAT(*requestWords(R"("a\"b\\c" a"b c"d \x)"), ElementsAre("a\"b\\c", "ab cd", "x"));
    for (const std::string bad : {"\"open", "end\\", "a\x01z", "del\x7F"}) {
        EXPECT_FALSE(requestWords(bad)) << bad;
    }
    EXPECT_EQ(quoted("a\"b\\c\r\n"), R"("a\"b\\c")");
}

TEST(ListenAddress, Forms) {
    EXPECT_EQ(ListenAddress::parse("3493"), (ListenAddress{"127.0.0.1", 3493}));
    EXPECT_EQ(ListenAddress::parse("0.0.0.0:65535"), (ListenAddress{"0.0.0.0", 65535}));
    EXPECT_EQ(ListenAddress::parse("[::1]:3493"), (ListenAddress{"::1", 3493}));
    EXPECT_EQ(ListenAddress::parse("localhost:0").text(), "localhost:0");
    EXPECT_EQ(ListenAddress::parse("[::]:1").text(), "[::]:1");
    for (const char* bad : {"", "65536", "-1", "+1", "x", ":3493", "::1:3493", "[::1]", "[]:1", "[::1]:", "a:", "1 "}) {
        EXPECT_THROW(ListenAddress::parse(bad), std::invalid_argument) << bad;
    }
}

TEST(UsersFile, NamesAndPasswords) {
    EXPECT_EQ(UsersFile::parse("# who may log in\n\nmon secret\r\nviewer \"two words\"\n"),
              (UPSUsers{{"mon", "secret"}, {"viewer", "two words"}}));
    const std::pair<const char*, const char*> bad[] = {
        {"mon\n", "line 1: expected NAME PASSWORD"},
        {"\nmon a b\n", "line 2: expected NAME PASSWORD"},
        {"mon a\nmon b\n", "line 2: mon is named twice"},
    };
    for (const auto& [text, message] : bad) {
        EXPECT_THAT([&] { UsersFile::parse(text); }, testing::ThrowsMessage<std::runtime_error>(message));
    }
}

TEST(UsersFile, FileOthersCanReadIsRefused) {
    TemporaryDirectory dir;
    const auto path = dir / "users";
    std::ofstream(path) << "mon secret\n";
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    EXPECT_THAT([&] { UsersFile::read(path); },
                testing::ThrowsMessage<std::runtime_error>(path.string() +
                                                           ": readable by group or others; it holds "
                                                           "passwords (chmod 600 " +
                                                           path.string() + ")"));
    std::filesystem::permissions(path, std::filesystem::perms(0600));
    EXPECT_EQ(UsersFile::read(path).at("mon"), "secret");
    EXPECT_THAT([&] { UsersFile::read(dir / "none"); }, testing::ThrowsMessage<std::runtime_error>(HasSubstr("none")));
}
