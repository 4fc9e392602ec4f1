#include "install/Bundle.h"

#include "core/ToolFailure.h"
#include "install/PropertyList.h"

#include <system_error>

namespace quelmar::Bundle {

namespace fs = std::filesystem;

std::optional<fs::path> runningExecutable() {
    std::error_code error;
    auto path = fs::canonical("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    return path;
}

std::optional<fs::path> mainBundle() {
    const auto executable = runningExecutable();
    if (!executable) {
        return std::nullopt;
    }
    const auto directory = executable->parent_path();
    if (directory.filename() == "bin" && directory.parent_path().filename() == "Contents") {
        return directory.parent_path().parent_path();
    }
    return directory;
}

fs::path executable(const fs::path& bundle) {
    const auto info = PropertyList::read(bundle / infoPlist);
    const auto named = info ? info->string("CFBundleExecutable") : std::nullopt;
    if (!named || named->empty() || *named == "." || *named == ".." || named->find('/') != std::string::npos) {
        throw toolFailure("open", bundle.string() + ": the bundle names no executable");
    }
    return bundle / executableDirectory / *named;
}

} // namespace quelmar::Bundle
