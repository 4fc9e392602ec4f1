#include "cli/Entry.h"
#include "cli/Modes.h"

#include <iostream>

namespace quelmar::Modes {

// The graphical client is not built yet; until then this mode explains the command line.
int application(const std::vector<std::string>&) {
    std::cout << Entry::usage() << std::flush;
    return 0;
}

} // namespace quelmar::Modes
