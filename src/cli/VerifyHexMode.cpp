#include "cli/Modes.h"

#include <iostream>

namespace quelmar::Modes {

int verifyHex(const std::string&) {
    std::cout << "--verify-hex is not built yet\n";
    return 1;
}

} // namespace quelmar::Modes
