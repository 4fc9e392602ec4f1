#include "cli/Modes.h"

#include <iostream>

namespace quelmar::Modes {

int probe(const std::vector<std::string>&) {
    std::cout << "--probe is not built yet\n";
    return 1;
}

} // namespace quelmar::Modes
