#include "cli/WatchArguments.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace quelmar::Modes {

namespace {

// Decimal digits alone, within [low, high].
std::optional<std::int64_t> number(const std::string& text, std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text[0] == '-' || ec != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

// A word the endpoint can serve and clients can name (upsc NAME@HOST).
bool validUPSName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

} // namespace

WatchArguments WatchArguments::parse(const std::vector<std::string>& arguments) {
    WatchArguments out;
    std::vector<std::string> given;
    const auto fail = [](const std::string& text) { throw std::invalid_argument(text); };
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const auto& option = arguments[i];
        if (option == "--watch" || option == "--json" || option == "--dry-run" || option == "--no-history") {
            out.json = out.json || option == "--json";
            out.dryRun = out.dryRun || option == "--dry-run";
            out.history = out.history && option != "--no-history";
            continue;
        }
        const std::vector<std::string> valued = {
            "--board",  "--shutdown-below", "--shutdown-runtime", "--shutdown-command",
            "--listen", "--users",          "--ups-name"};
        if (std::find(valued.begin(), valued.end(), option) == valued.end()) {
            fail("unknown option for --watch: " + option);
        }
        if (i + 1 == arguments.size()) {
            fail(option + " needs a value");
        }
        const auto& value = arguments[++i];
        if (option != "--listen" && std::find(given.begin(), given.end(), option) != given.end()) {
            fail(option + " is given twice");
        }
        given.push_back(option);
        auto& shutdown = out.shutdown;
        if (option == "--board") {
            out.board = value;
        } else if (option == "--shutdown-below") {
            const auto percent = number(value, 1, 100);
            if (!percent) {
                fail("--shutdown-below needs a percentage from 1 to 100, not \"" + value + "\"");
            }
            shutdown = shutdown.value_or(ShutdownThresholds{});
            shutdown->belowPercent = percent;
        } else if (option == "--shutdown-runtime") {
            const auto seconds = number(value, 1, 86400);
            if (!seconds) {
                fail("--shutdown-runtime needs a number of seconds from 1 to 86400, not \"" + value + "\"");
            }
            shutdown = shutdown.value_or(ShutdownThresholds{});
            shutdown->runtimeSeconds = seconds;
        } else if (option == "--shutdown-command") {
            if (value.find_first_not_of(" \t") == std::string::npos) {
                fail("--shutdown-command needs a command");
            }
            out.shutdownCommand = value;
            shutdown = shutdown.value_or(ShutdownThresholds{});
        } else if (option == "--listen") {
            try {
                out.listen.push_back(ListenAddress::parse(value));
            } catch (const std::invalid_argument& error) {
                fail(std::string("--listen: ") + error.what());
            }
        } else if (option == "--users") {
            out.users = value;
        } else if (!validUPSName(value)) {
            fail("--ups-name takes letters, digits, '.', '_' and '-' (at most 64), not \"" + value + "\"");
        } else {
            out.upsName = value;
        }
    }
    if (out.dryRun && !out.shutdown) {
        fail("--dry-run needs --shutdown-below, --shutdown-runtime or --shutdown-command");
    }
    for (const char* option : {"--users", "--ups-name"}) {
        if (out.listen.empty() && std::find(given.begin(), given.end(), option) != given.end()) {
            fail(std::string(option) + " needs --listen");
        }
    }
    return out;
}

} // namespace quelmar::Modes
