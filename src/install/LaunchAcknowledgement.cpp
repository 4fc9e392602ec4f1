#include "install/AppMetadata.h"
#include "install/NativeInstaller.h"
#include "system/Files.h"

#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>

namespace quelmar::NativeInstaller {

namespace {

std::optional<std::string> valueAfter(const std::vector<std::string>& arguments, const std::string& option) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    const auto it = std::find(arguments.begin() + 1, arguments.end(), option);
    if (it == arguments.end() || it + 1 == arguments.end()) {
        return std::nullopt;
    }
    return *(it + 1);
}

} // namespace

void acknowledgeLaunch(const std::vector<std::string>& arguments) {
    const auto ready = valueAfter(arguments, "--update-ready");
    const auto token = valueAfter(arguments, "--update-token");
    if (!ready || !token) {
        return;
    }
    // The client never writes elsewhere on request.
    const std::filesystem::path path(*ready);
    if (path.filename() != readyFile || !path.parent_path().filename().string().starts_with(stagePrefix)) {
        return;
    }
    try {
        const nlohmann::json acknowledgement = {{"token", *token}, {"version", AppMetadata::version()}};
        Files::writeAtomically(path, acknowledgement.dump());
    } catch (const std::exception&) {
        // The helper times out and restores the old version.
    }
}

} // namespace quelmar::NativeInstaller
