#pragma once

#include <optional>
#include <string_view>

namespace quelmar {

// The scheme of an absolute URL exactly as written, or none when the text does not start with one.
std::optional<std::string_view> urlScheme(std::string_view url);

// "https://" followed by a host, every character printable ASCII: the only addresses the update path
// fetches.
bool isHTTPSURL(std::string_view url);

} // namespace quelmar
