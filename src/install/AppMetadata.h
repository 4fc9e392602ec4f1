#pragma once

#include <string>

namespace quelmar::AppMetadata {

// The client's own version text, computed once.
const std::string& version();

} // namespace quelmar::AppMetadata
