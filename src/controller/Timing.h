#pragma once

#include <chrono>

namespace quelmar {

// The controller's written intervals; tests construct the controller with shorter ones.
struct ControllerTiming {
    std::chrono::milliseconds pollPause{1000};         // between two poll passes
    std::chrono::seconds updateInterval{21600};        // between automatic update checks
    std::chrono::milliseconds modeWaitPause{300};      // between looks for a restarted board
    int modeWaitTries = 50;                            // looks before giving up (about 15 s)
    std::chrono::milliseconds bootReplyDeadline{3000}; // per awaited bootloader reply
};

} // namespace quelmar
