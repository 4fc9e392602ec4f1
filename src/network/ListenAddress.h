#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelmar {

// Where the endpoint listens: "[ADDRESS:]PORT", the address 127.0.0.1 when left out, an IPv6 address in brackets
// ("[::1]:3493"). A host name binds every address it resolves to.
struct ListenAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;

    // Throws std::invalid_argument with a message that quotes the text.
    static ListenAddress parse(std::string_view text);
    // Back in the form parse takes.
    std::string text() const;

    bool operator==(const ListenAddress&) const = default;
};

} // namespace quelmar
