#include "cli/Entry.h"

#include "BuildConfig.h"
#include "cli/Modes.h"
#include "install/AppMetadata.h"

#include <algorithm>
#include <iostream>
#include <optional>

namespace quelmar::Entry {

namespace {

// The argument after the first occurrence of option (program path excluded), when there is one.
std::optional<std::string> valueAfter(const std::vector<std::string>& arguments, const std::string& option) {
    const auto it = std::find(arguments.begin() + 1, arguments.end(), option);
    if (it == arguments.end() || it + 1 == arguments.end()) {
        return std::nullopt;
    }
    return *(it + 1);
}

bool contains(const std::vector<std::string>& arguments, const std::string& option) {
    return std::find(arguments.begin() + 1, arguments.end(), option) != arguments.end();
}

} // namespace

std::string usage() {
    return "Usage: quelmar [OPTION]\n"
           "Client and diagnosis tool for the Quelmar DC UPS board.\n"
           "\n"
           "  --probe [--samples N]   list attached boards and print identity, configuration\n"
           "                          and N telemetry samples one second apart (1 to 3600)\n"
           "  --probe ... --record FILE\n"
           "                          also describe the boards seen in FILE, to replay them\n"
           "                          with QUELMAR_SIMULATOR=FILE (for bug reports)\n"
           "  --probe ... --json      the probe as JSON lines, one object per line\n"
           "  --watch [OPTION]...     monitor the board without a window: one line per event\n"
           "                          (connected, lost, mains lost and restored, battery low,\n"
           "                          shutdown imminent, shutdown started) with its UTC time,\n"
           "                          until SIGTERM or SIGINT; it never writes to the board\n"
           "    --json                one JSON object per line for every sample and event\n"
           "    --board ID            follow this board (an id from --probe) among several\n"
           "    --no-history          record nothing in the telemetry history\n"
           "    --shutdown-below PERCENT\n"
           "                          run the shutdown command once, when the charge stays\n"
           "                          below PERCENT for 3 samples off mains, or when the board\n"
           "                          signals shutdown imminent off mains\n"
           "    --shutdown-runtime SECONDS\n"
           "                          the same for the runtime left (either or both)\n"
           "    --shutdown-command CMD\n"
           "                          the command, run by /bin/sh -c (default: systemctl\n"
           "                          poweroff); alone, it runs on shutdown imminent\n"
           "    --dry-run             print the shutdown instead of running the command\n"
           "    --listen [ADDRESS:]PORT\n"
           "                          serve the UPS read-only over the UPS network protocol\n"
           "                          (upsc, upsmon), at 127.0.0.1 unless an address is given,\n"
           "                          [::1]:PORT for IPv6; may be repeated\n"
           "    --users FILE          who may log in (upsmon): NAME PASSWORD a line, a file\n"
           "                          readable by its owner only\n"
           "    --ups-name NAME       the UPS's name on the endpoint (default: quelmar)\n"
           "  --verify-hex PATH       check an Intel HEX firmware image, print its size and CRC-32\n"
           "  --check-feed PATH       verify a signed update feed\n"
           "  --stage-update ARCHIVE VERSION TARGET\n"
           "                          unpack and validate a client update beside TARGET\n"
           "  --help                  print this text\n"
           "  --version               print the version\n"
           "\n"
           "Without an option the graphical client starts.\n"
           "QUELMAR_SIMULATOR=1, or the path of a JSON board description, selects the emulated board.\n";
}

int main(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return Modes::application(arguments);
    }
    if (arguments.size() >= 2 && arguments[1] == "--install") {
        return Modes::install(arguments);
    }
    if (arguments.size() >= 2 && arguments[1] == "--help") {
        std::cout << usage() << std::flush;
        return 0;
    }
    if (arguments.size() >= 2 && arguments[1] == "--version") {
        std::cout << "Quelmar " << AppMetadata::version() << '\n';
        if (BuildConfig::trustsDevelopmentKey) {
            std::cout << "This build trusts the development update key, whose private half is public: "
                         "for tests and local demos only, never for a release.\n";
        } else {
            std::cout << "Update feed key: " << BuildConfig::publicKey << '\n';
        }
        std::cout << std::flush;
        return 0;
    }
    if (contains(arguments, "--probe")) {
        return contains(arguments, "--json") ? Modes::probeJson(arguments) : Modes::probe(arguments);
    }
    if (contains(arguments, "--watch")) {
        return Modes::watch(arguments);
    }
    if (const auto path = valueAfter(arguments, "--verify-hex")) {
        return Modes::verifyHex(*path);
    }
    if (const auto path = valueAfter(arguments, "--check-feed")) {
        return Modes::checkFeed(*path);
    }
    if (arguments.size() == 5 && arguments[1] == "--stage-update") {
        return Modes::stageUpdate(arguments[2], arguments[3], arguments[4]);
    }
    return Modes::application(arguments);
}

} // namespace quelmar::Entry
