#include "core/URLs.h"

#include <algorithm>

namespace quelmar {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::string_view> urlScheme(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == 0 || colon == std::string_view::npos || !isAlpha(url[0])) {
        return std::nullopt;
    }
    const auto scheme = url.substr(0, colon);
    const bool valid = std::all_of(scheme.begin(), scheme.end(),
                                   [](char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; });
    if (!valid) {
        return std::nullopt;
    }
    return scheme;
}

bool isHTTPSURL(std::string_view url) {
    constexpr std::string_view prefix = "https://";
    if (url.substr(0, prefix.size()) != prefix || url.size() == prefix.size()) {
        return false;
    }
    const char first = url[prefix.size()];
    if (first == '/' || first == '?' || first == '#') {
        return false;
    }
    return std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

} // namespace quelmar
