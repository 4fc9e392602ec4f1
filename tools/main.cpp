#include "tools/Arguments.h"
#include "tools/Commands.h"

#include <array>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

using namespace quelmar::publish;

namespace {

// A new subcommand adds a row here and a file of its own.
const std::array<const Command*, 4> commands = {&keygenCommand, &signFeedCommand, &sealCommand, &packCommand};

void printUsage(std::ostream& out) {
    out << "Usage: quelmar-publish COMMAND [ARGUMENTS]\n"
           "Makes what the Quelmar client trusts: signing keys, signed update feeds and sealed bundles.\n"
           "\n";
    for (const auto* command : commands) {
        out << "  " << command->name << ' ' << command->usage << "\n      " << command->summary << '\n';
    }
    out << "\n"
           "quelmar-publish COMMAND --help describes one command. Exit status: 0 done, 1 failed,\n"
           "2 wrong command line.\n";
}

void printCommandUsage(std::ostream& out, const Command& command) {
    out << "Usage: quelmar-publish " << command.name << ' ' << command.usage << '\n';
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        printUsage(std::cerr);
        return 2;
    }
    if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
        printUsage(std::cout);
        return 0;
    }
    for (const auto* command : commands) {
        if (arguments[0] != command->name) {
            continue;
        }
        const std::span<const std::string> rest(arguments.begin() + 1, arguments.end());
        if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
            printCommandUsage(std::cout, *command);
            std::cout << '\n' << command->details;
            return 0;
        }
        try {
            return command->run(rest);
        } catch (const UsageError& error) {
            std::cerr << "quelmar-publish " << command->name << ": " << error.what() << '\n';
            printCommandUsage(std::cerr, *command);
            return 2;
        } catch (const std::exception& error) {
            std::cerr << "quelmar-publish " << command->name << ": " << error.what() << '\n';
            return 1;
        }
    }
    std::cerr << "quelmar-publish: unknown command " << arguments[0] << '\n';
    printUsage(std::cerr);
    return 2;
}
