#pragma once

#include "core/UPSVariables.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// Who may LOGIN: name to password. Empty: nobody.
using UPSUsers = std::map<std::string, std::string, std::less<>>;

// What the endpoint serves, the same for every connection.
struct UPSEndpoint {
    std::string upsName = "quelmar";
    std::string description = "Quelmar DC UPS";
    std::string version; // what VER names
    UPSUsers users;
};

// One client's side of the conversation.
struct UPSSession {
    std::string address; // the client's IP address, as LIST CLIENT shows it
    std::optional<std::string> username;
    std::optional<std::string> password;
    bool loggedIn = false;
};

// Whole lines, each ending in a line feed; close: the connection ends once they are sent.
struct UPSReply {
    std::string text;
    bool close = false;
};

// The read-only side of the UPS network protocol: answers one request line at a time. Nothing a client sends
// changes the board; commands that would (SET, INSTCMD, FSD, PRIMARY) are refused once credentials are given,
// and ask for them before. No I/O.
class UPSProtocol {
public:
    // Longer request lines are refused with tooLong and never kept.
    static constexpr std::size_t maxLine = 1024;
    static constexpr std::string_view tooLong = "ERR TOO-LONG\n";
    static constexpr std::string_view protocolVersion = "1.3";

    // The addresses of the clients logged in to the UPS; asked only by the requests that show them.
    using Logins = std::function<std::vector<std::string>()>;

    explicit UPSProtocol(UPSEndpoint endpoint)
        : endpoint_(std::move(endpoint)) {}

    // The reply to one request line, given without its line end. An empty line has an empty reply.
    UPSReply answer(UPSSession& session, std::string_view line, const UPSState& state, const Logins& logins) const;

    const UPSEndpoint& endpoint() const { return endpoint_; }

private:
    using Words = std::vector<std::string>;
    std::string get(const Words& words, const UPSState& state, const Logins& logins) const;
    std::string list(const Words& words, const UPSState& state, const Logins& logins) const;
    std::string login(UPSSession& session, const Words& words) const;
    bool knownUser(const UPSSession& session) const;

    UPSEndpoint endpoint_;
};

// The words of a request line: separated by spaces or tabs; inside "…" spaces belong to the word, and a backslash
// takes the next character as it is (\" and \\). Absent when a quote is left open, the line ends in a backslash,
// or it holds a control character.
std::optional<std::vector<std::string>> requestWords(std::string_view line);

// A value in double quotes with " and \ escaped; control characters, which would break the line, are left out.
std::string quoted(std::string_view value);

} // namespace quelmar
