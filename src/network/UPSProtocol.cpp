#include "network/UPSProtocol.h"

#include <algorithm>
#include <cctype>

namespace quelmar {

namespace {

using Words = std::vector<std::string>;

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// Compares secrets in a time that does not tell how much of them matched.
bool sameSecret(std::string_view a, std::string_view b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return differ == 0;
}

std::string err(std::string_view what) {
    return "ERR " + std::string(what) + "\n";
}

std::string listOf(const std::string& query, const std::vector<std::string>& items) {
    std::string out = "BEGIN LIST " + query + "\n";
    for (const auto& item : items) {
        out += item + "\n";
    }
    return out + "END LIST " + query + "\n";
}

} // namespace

std::optional<std::vector<std::string>> requestWords(std::string_view line) {
    Words words;
    std::string word;
    bool inWord = false, inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
            return std::nullopt;
        }
        if (c == '\\') {
            if (++i == line.size()) {
                return std::nullopt;
            }
            word += line[i];
            inWord = true;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inQuotes) {
        return std::nullopt;
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string quoted(std::string_view value) {
    std::string out = "\"";
    for (const char c : value) {
        if ((static_cast<unsigned char>(c) < 0x20) || c == 0x7F) {
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

bool UPSProtocol::knownUser(const UPSSession& session) const {
    const auto user = endpoint_.users.find(*session.username);
    // An unknown name still costs a comparison, so that a reply's timing does not tell names apart.
    const std::string_view expected = user != endpoint_.users.end() ? std::string_view(user->second) : "";
    return sameSecret(*session.password, expected) && user != endpoint_.users.end();
}

UPSReply UPSProtocol::answer(UPSSession& session, std::string_view line, const UPSState& state,
                             const Logins& logins) const {
    const auto parsed = requestWords(line);
    if (!parsed) {
        return {err("INVALID-ARGUMENT")};
    }
    const Words& words = *parsed;
    if (words.empty()) {
        return {};
    }
    const std::string& command = words[0];
    const std::size_t arguments = words.size() - 1;
    const auto credentials = [&]() -> std::string {
        if (!session.username) {
            return err("USERNAME-REQUIRED");
        }
        if (!session.password) {
            return err("PASSWORD-REQUIRED");
        }
        return err("ACCESS-DENIED");
    };

    // Commands of no argument.
    for (const char* plain : {"VER", "NETVER", "HELP", "STARTTLS", "LOGOUT"}) {
        if (!same(command, plain)) {
            continue;
        }
        if (arguments != 0) {
            return {err("INVALID-ARGUMENT")};
        }
        if (same(command, "VER")) {
            return {endpoint_.version + "\n"};
        }
        if (same(command, "NETVER")) {
            return {std::string(protocolVersion) + "\n"};
        }
        if (same(command, "HELP")) {
            return {"Commands: HELP VER NETVER GET LIST USERNAME PASSWORD LOGIN LOGOUT STARTTLS\n"};
        }
        if (same(command, "STARTTLS")) {
            return {err("FEATURE-NOT-CONFIGURED")};
        }
        return {"OK Goodbye\n", true};
    }
    if (same(command, "USERNAME") || same(command, "PASSWORD")) {
        const bool name = same(command, "USERNAME");
        auto& field = name ? session.username : session.password;
        if (arguments != 1) {
            return {err("INVALID-ARGUMENT")};
        }
        if (field) {
            return {err(name ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD")};
        }
        if (words[1].empty()) {
            return {err(name ? "INVALID-USERNAME" : "INVALID-PASSWORD")};
        }
        field = words[1];
        return {"OK\n"};
    }
    if (same(command, "LOGIN")) {
        return {login(session, words)};
    }
    // Everything that would change the board or act on the machines it powers.
    for (const char* refused : {"SET", "INSTCMD", "FSD", "PRIMARY", "MASTER"}) {
        if (same(command, refused)) {
            return {credentials()};
        }
    }
    if (same(command, "GET") || same(command, "LIST")) {
        if (arguments == 0) {
            return {err("INVALID-ARGUMENT")};
        }
        return {same(command, "GET") ? get(words, state, logins) : list(words, state, logins)};
    }
    return {err("UNKNOWN-COMMAND")};
}

std::string UPSProtocol::login(UPSSession& session, const Words& words) const {
    if (words.size() != 2) {
        return err("INVALID-ARGUMENT");
    }
    if (session.loggedIn) {
        return err("ALREADY-LOGGED-IN");
    }
    if (!session.username) {
        return err("USERNAME-REQUIRED");
    }
    if (!session.password) {
        return err("PASSWORD-REQUIRED");
    }
    if (!knownUser(session)) {
        return err("ACCESS-DENIED");
    }
    if (words[1] != endpoint_.upsName) {
        return err("UNKNOWN-UPS");
    }
    session.loggedIn = true;
    return "OK\n";
}

std::string UPSProtocol::get(const Words& w, const UPSState& state, const Logins& logins) const {
    const std::string& what = w[1];
    const auto& ups = endpoint_.upsName;
    // GET <what> <ups> [<name>]: the argument count each form takes.
    const auto shape = [&](std::size_t count) { return w.size() == count; };
    if (same(what, "TRACKING")) {
        return shape(2) ? "OFF\n" : err("INVALID-ARGUMENT");
    }
    const bool perUPS = same(what, "NUMLOGINS") || same(what, "UPSDESC");
    const bool perName = same(what, "VAR") || same(what, "TYPE") || same(what, "DESC") || same(what, "CMDDESC");
    if (!(perUPS && shape(3)) && !(perName && shape(4))) {
        return err("INVALID-ARGUMENT");
    }
    if (w[2] != ups) {
        return err("UNKNOWN-UPS");
    }
    if (same(what, "NUMLOGINS")) {
        return "NUMLOGINS " + ups + " " + std::to_string(logins().size()) + "\n";
    }
    if (same(what, "UPSDESC")) {
        return "UPSDESC " + ups + " " + quoted(endpoint_.description) + "\n";
    }
    const std::string& name = w[3];
    if (same(what, "CMDDESC")) {
        return err("CMD-NOT-SUPPORTED");
    }
    if (same(what, "DESC")) {
        const auto description = upsVariableDescription(name);
        return description == "Unavailable" ? err("VAR-NOT-SUPPORTED")
                                            : "DESC " + ups + " " + name + " " + quoted(description) + "\n";
    }
    if (state.stale) {
        return err("DATA-STALE");
    }
    const auto* variable = state.find(name);
    if (variable == nullptr) {
        return err("VAR-NOT-SUPPORTED");
    }
    if (same(what, "TYPE")) {
        const auto length = std::to_string(std::max<std::size_t>(variable->value.size(), 1));
        return "TYPE " + ups + " " + name + (variable->number ? " NUMBER\n" : " STRING:" + length + "\n");
    }
    return "VAR " + ups + " " + name + " " + quoted(variable->value) + "\n";
}

std::string UPSProtocol::list(const Words& w, const UPSState& state, const Logins& logins) const {
    const std::string& what = w[1];
    const auto& ups = endpoint_.upsName;
    if (same(what, "UPS")) {
        return w.size() == 2 ? listOf("UPS", {"UPS " + ups + " " + quoted(endpoint_.description)})
                             : err("INVALID-ARGUMENT");
    }
    const bool perUPS = same(what, "VAR") || same(what, "RW") || same(what, "CMD") || same(what, "CLIENT");
    const bool perName = same(what, "ENUM") || same(what, "RANGE");
    if (!(perUPS && w.size() == 3) && !(perName && w.size() == 4)) {
        return err("INVALID-ARGUMENT");
    }
    if (w[2] != ups) {
        return err("UNKNOWN-UPS");
    }
    if (same(what, "CLIENT")) {
        std::vector<std::string> clients;
        for (const auto& address : logins()) {
            clients.push_back("CLIENT " + ups + " " + address);
        }
        return listOf("CLIENT " + ups, clients);
    }
    if (state.stale) {
        return err("DATA-STALE");
    }
    if (same(what, "VAR")) {
        std::vector<std::string> variables;
        variables.reserve(state.variables.size());
        for (const auto& v : state.variables) {
            variables.push_back("VAR " + ups + " " + v.name + " " + quoted(v.value));
        }
        return listOf("VAR " + ups, variables);
    }
    if (perUPS) {
        // No variable is writable and there are no commands.
        return listOf(std::string(same(what, "RW") ? "RW " : "CMD ") + ups, {});
    }
    const std::string& name = w[3];
    if (state.find(name) == nullptr) {
        return err("VAR-NOT-SUPPORTED");
    }
    return listOf(std::string(same(what, "ENUM") ? "ENUM " : "RANGE ") + ups + " " + name, {});
}

} // namespace quelmar
