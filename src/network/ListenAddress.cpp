#include "network/ListenAddress.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace quelmar {

ListenAddress ListenAddress::parse(std::string_view text) {
    const auto refuse = [&] {
        throw std::invalid_argument("\"" + std::string(text) + "\" is not [ADDRESS:]PORT (a port from 0 to 65535)");
    };
    ListenAddress out;
    std::string_view port = text;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string_view::npos || close == 1) {
            refuse();
        }
        out.host = std::string(text.substr(1, close - 1));
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        out.host = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
        if (out.host.empty() || out.host.find(':') != std::string::npos) {
            refuse(); // an IPv6 address needs its brackets
        }
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        ec != std::errc() || end != port.data() + port.size() || value > 65535) {
        refuse();
    }
    out.port = static_cast<std::uint16_t>(value);
    return out;
}

std::string ListenAddress::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace quelmar
