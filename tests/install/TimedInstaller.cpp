// The client's installer helper with times a test chooses, so that its waits take milliseconds, and optionally
// killed (SIGKILL) by itself right before or after one of its steps:
//   quelmar_test_installer PROBES POLLS PAUSE_MS [--kill-at STEP DONE] --install PID TARGET STAGE VERSION
// STEP is the number of a NativeInstaller::HelperStep, DONE 0 (before it) or 1 (after it).
#include "install/NativeInstaller.h"

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    using quelmar::NativeInstaller::HelperStep;
    const quelmar::NativeInstaller::HelperTimes times{std::stoi(argv[1]), std::stoi(argv[2]),
                                                      std::chrono::milliseconds(std::stoi(argv[3]))};
    int next = 4;
    quelmar::NativeInstaller::HelperObserver observer;
    if (argc > 6 && std::string(argv[4]) == "--kill-at") {
        const auto killAt = static_cast<HelperStep>(std::stoi(argv[5]));
        const bool killDone = std::stoi(argv[6]) != 0;
        observer = [=](HelperStep step, bool done) {
            if (step == killAt && done == killDone) {
                std::raise(SIGKILL);
            }
        };
        next = 7;
    }
    std::vector<std::string> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + next, argv + argc);
    return quelmar::NativeInstaller::installFromHelper(arguments, times, observer);
}
