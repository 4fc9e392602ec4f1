#include "cli/Modes.h"

#include <iostream>

namespace quelmar::Modes {

int stageUpdate(const std::string&, const std::string&, const std::string&) {
    std::cout << "--stage-update is not built yet\n";
    return 1;
}

int install(const std::vector<std::string>&) { return 2; }

} // namespace quelmar::Modes
