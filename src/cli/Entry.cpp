#include "cli/Entry.h"

#include "install/AppMetadata.h"

#include <iostream>

namespace quelmar::Entry {

std::string usage() {
    return "Usage: quelmar [OPTION]\n"
           "Client and diagnosis tool for the Quelmar DC UPS board.\n"
           "\n"
           "  --probe [--samples N]   list attached boards and print identity, configuration\n"
           "                          and N telemetry samples one second apart (1 to 3600)\n"
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
    if (arguments.size() >= 2 && arguments[1] == "--version") {
        std::cout << "Quelmar " << AppMetadata::version() << '\n';
        return 0;
    }
    std::cout << usage();
    return 0;
}

} // namespace quelmar::Entry
