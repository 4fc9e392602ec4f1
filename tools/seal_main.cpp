// Stand-alone entry point for the bundle subcommands until they join quelmar-publish.
#include "tools/BundleCommands.h"

#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const char* usage = "Usage: quelmar-seal seal --key KEY [--public-key HEX] BUNDLE\n"
                        "       quelmar-seal pack [--public-key HEX] BUNDLE ARCHIVE\n";
    if (arguments.empty()) {
        std::cerr << usage;
        return 2;
    }
    const std::span<const std::string> rest(arguments.begin() + 1, arguments.end());
    try {
        if (arguments[0] == "seal") {
            return quelmar::publish::seal(rest);
        }
        if (arguments[0] == "pack") {
            return quelmar::publish::pack(rest);
        }
        std::cerr << usage;
        return 2;
    } catch (const std::invalid_argument& error) {
        std::cerr << "quelmar-seal " << arguments[0] << ": " << error.what() << '\n' << usage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "quelmar-seal " << arguments[0] << ": " << error.what() << '\n';
        return 1;
    }
}
