#include "cli/Modes.h"
#include "cli/Output.h"
#include "install/NativeInstaller.h"

#include <exception>

namespace quelmar::Modes {

int stageUpdate(const std::string& archive, const std::string& version, const std::string& target) {
    try {
        const auto staged = NativeInstaller::prepare(archive, target, version);
        Output::line(staged.stage.string());
        return 0;
    } catch (const std::exception& error) {
        return Output::failure(error);
    }
}

int install(const std::vector<std::string>& arguments) {
    return NativeInstaller::installFromHelper(arguments);
}

} // namespace quelmar::Modes
