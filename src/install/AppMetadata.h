#pragma once

#include <string>

namespace quelmar::AppMetadata {

// The client's own version text, computed once: CFBundleShortVersionString of the bundle the executable runs
// from when it is a text, otherwise the version compiled in.
const std::string& version();

} // namespace quelmar::AppMetadata
