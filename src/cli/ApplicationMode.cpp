#include "cli/Modes.h"
#include "cli/Output.h"
#include "views/WindowModule.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace quelmar::Modes {

namespace {

constexpr const char* helpHint = "; quelmar --help lists the command-line modes";
constexpr const char* moduleHint = "; the command-line modes work without it, quelmar --help lists them";

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Beside the executable (a build tree), then in the installed layout's lib/quelmar/ (/usr/bin/quelmar and
// /usr/lib/quelmar/, or a bundle's Contents/bin/ and Contents/lib/quelmar/).
std::array<std::filesystem::path, 2> modulePlaces() {
    std::error_code error;
    const auto directory = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    return {directory / WindowModule::fileName,
            (directory / WindowModule::installedFolder / WindowModule::fileName).lexically_normal()};
}

} // namespace

int application(const std::vector<std::string>& arguments) {
    // Without a display server and without a platform chosen by hand there is nothing to show the window on.
    if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
        Output::line(std::string("Cannot open the window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)") +
                     helpHint);
        return 1;
    }
    const auto places = modulePlaces();
    std::error_code error;
    const auto found = std::filesystem::exists(places[0], error) ? places[0] : places[1];
    if (!std::filesystem::exists(found, error)) {
        Output::line(std::string("Cannot open the window: its module is not installed (neither ") + places[0].string() +
                     " nor " + places[1].string() + " exists)" + moduleHint);
        return 1;
    }
    // Never closed: Qt's objects and handlers from it live until the process ends.
    void* module = ::dlopen(found.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto run =
        module != nullptr ? reinterpret_cast<WindowModule::Run>(::dlsym(module, WindowModule::entryName)) : nullptr;
    if (run == nullptr) {
        const char* reason = ::dlerror();
        Output::line("Cannot open the window: its module " + found.string() + " cannot be loaded (" +
                     (reason != nullptr ? reason : "no reason given") + ")" + moduleHint);
        return 1;
    }
    return run(&arguments);
}

} // namespace quelmar::Modes
