#pragma once

#include "core/NativeZip.h"

#include <filesystem>
#include <optional>
#include <string_view>

// The client bundle on Linux: NAME.app/Contents/Info.plist, the executable in Contents/bin/ (named by
// CFBundleExecutable), the seal manifest in Contents/.
namespace quelmar::Bundle {

inline constexpr std::string_view name = NativeZip::bundleDirectory;
inline constexpr std::string_view infoPlist = "Contents/Info.plist";
inline constexpr std::string_view executableDirectory = "Contents/bin";

// The running executable with links resolved; none when /proc does not say.
std::optional<std::filesystem::path> runningExecutable();

// The bundle the running executable lies in (the directory above Contents/bin/), else the executable's own
// directory, as for a program outside any bundle. Links resolved.
std::optional<std::filesystem::path> mainBundle();

// The path of the bundle's executable as its Info.plist names it. Throws UPSError in the "open" tool's failure
// form when the name is missing or not a plain file name; read and parse errors pass through.
std::filesystem::path executable(const std::filesystem::path& bundle);

} // namespace quelmar::Bundle
