#pragma once

#include "controller/AppModel.h"
#include "install/NativeInstaller.h"
#include "update/UpdateService.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quelmar {

class Dialogs;
class HIDPlatform;

// What the controller works with. The defaults are the application's own.
struct AppModel::Setup {
    HIDPlatform* platform = nullptr; // required
    Dialogs* dialogs = nullptr;      // required
    UpdateService::Options updates = UpdateService::Options::standard();
    Timing timing{};
    Clock clock = [] { return std::chrono::system_clock::now(); };
    std::vector<std::string> arguments{}; // the process's, for the launch acknowledgement
    std::string version{};                // empty: the application's own version
    std::function<std::filesystem::path()> installTarget = [] { return NativeInstaller::currentTarget(); };
    std::function<void(const StagedUpdate&)> launchInstaller = [](const StagedUpdate& update) {
        NativeInstaller::launch(update);
    };
    // The telemetry history's file; none records nothing. The application passes HistoryFile::defaultPath().
    std::optional<std::filesystem::path> history{};
    // A monitor that only looks (the headless mode): no board in bootloader mode is connected, no update checked.
    bool readOnly = false;
    // The one board to connect to (its id), whatever else is attached; none: the only board, or the one chosen.
    std::optional<std::string> board{};
};

} // namespace quelmar
