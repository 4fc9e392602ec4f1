#include "cli/Modes.h"
#include "core/UPSError.h"
#include "install/NativeInstaller.h"

#include <exception>
#include <iostream>

namespace quelmar::Modes {

int stageUpdate(const std::string& archive, const std::string& version, const std::string& target) {
    try {
        const auto staged = NativeInstaller::prepare(archive, target, version);
        std::cout << staged.stage.string() << '\n' << std::flush;
        return 0;
    } catch (const UPSError& error) {
        std::cout << error.message() << '\n' << std::flush;
    } catch (const std::exception& error) {
        std::cout << error.what() << '\n' << std::flush;
    }
    return 1;
}

int install(const std::vector<std::string>& arguments) {
    return NativeInstaller::installFromHelper(arguments);
}

} // namespace quelmar::Modes
