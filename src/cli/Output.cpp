#include "cli/Output.h"

#include "core/UPSError.h"

#include <iostream>

namespace quelmar::Output {

void line(const std::string& text) {
    std::cout << text << '\n' << std::flush;
}

int failure(const std::exception& error) {
    line(messageOf(error));
    return 1;
}

} // namespace quelmar::Output
