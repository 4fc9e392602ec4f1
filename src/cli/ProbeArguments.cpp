#include "cli/ProbeArguments.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace quelmar::Modes {

std::optional<std::int64_t> probeSampleCount(const std::vector<std::string>& arguments) {
    constexpr std::int64_t maxSamples = 3600;
    const auto it = std::find(arguments.begin() + 1, arguments.end(), "--samples");
    if (it == arguments.end()) {
        return 1;
    }
    if (it + 1 == arguments.end()) {
        return std::nullopt;
    }
    std::string_view text = *(it + 1);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || negative || value < 1 || value > maxSamples) {
        return std::nullopt; // a count too large for any integer is out of range as well
    }
    return value;
}

} // namespace quelmar::Modes
