#include "cli/Entry.h"
#include "cli/Modes.h"
#include "install/NativeInstaller.h"

#include <iostream>

namespace quelmar::Modes {

// The graphical client is not built yet; until then this mode explains the command line.
int application(const std::vector<std::string>& arguments) {
    // Belongs to the controller's start, after the window is up. Until there is a window, a client started by the
    // installer helper acknowledges here, so that an installed update is kept rather than rolled back.
    NativeInstaller::acknowledgeLaunch(arguments);
    std::cout << Entry::usage() << std::flush;
    return 0;
}

} // namespace quelmar::Modes
