#include "cli/Output.h"

#include "core/UPSError.h"

#include <iostream>

namespace quelmar::Output {

void line(const std::string& text) {
    std::cout << text << '\n' << std::flush;
}

int failure(const std::exception& error) {
    // The message itself, not what(): a UPSError's text may hold any character.
    const auto* own = dynamic_cast<const UPSError*>(&error);
    line(own ? own->message() : std::string(error.what()));
    return 1;
}

} // namespace quelmar::Output
