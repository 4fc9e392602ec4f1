#include "cli/Modes.h"

#include <iostream>

namespace quelmar::Modes {

int checkFeed(const std::string&) {
    std::cout << "--check-feed is not built yet\n";
    return 1;
}

} // namespace quelmar::Modes
