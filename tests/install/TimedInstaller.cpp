// The client's installer helper with times the test chooses, so that its waits take milliseconds:
//   quelmar_test_installer PROBES POLLS PAUSE_MS --install PID TARGET STAGE VERSION
#include "install/NativeInstaller.h"

#include <chrono>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    const quelmar::NativeInstaller::HelperTimes times{std::stoi(argv[1]), std::stoi(argv[2]),
                                                      std::chrono::milliseconds(std::stoi(argv[3]))};
    std::vector<std::string> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 4, argv + argc);
    return quelmar::NativeInstaller::installFromHelper(arguments, times);
}
