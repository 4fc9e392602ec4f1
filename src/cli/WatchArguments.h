#pragma once

#include "core/ShutdownRule.h"
#include "network/ListenAddress.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelmar::Modes {

// The options of --watch.
struct WatchArguments {
    bool json = false;
    bool history = true;
    std::optional<std::string> board;
    std::optional<ShutdownThresholds> shutdown; // none: no low-battery action
    std::string shutdownCommand = "systemctl poweroff";
    bool dryRun = false;
    std::vector<ListenAddress> listen; // none: no endpoint
    std::optional<std::filesystem::path> users;
    std::string upsName = "quelmar";

    // Reads the arguments (program path at index 0, "--watch" among them). Throws std::invalid_argument with the one
    // line that tells what is wrong.
    static WatchArguments parse(const std::vector<std::string>& arguments);
};

} // namespace quelmar::Modes
