#pragma once

#include <chrono>
#include <string>

namespace quelmar {

// A time in ISO 8601 UTC: "2026-12-08T10:00:00Z", or with milliseconds "2026-12-08T10:00:00.250Z".
std::string utcText(std::chrono::system_clock::time_point time, bool milliseconds = false);

} // namespace quelmar
