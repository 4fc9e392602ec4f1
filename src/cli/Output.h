#pragma once

#include <exception>
#include <string>

// Everything the command line prints goes to standard output as whole lines.
namespace quelmar::Output {

// One line, flushed at once so that a line is never lost when the process ends.
void line(const std::string& text);

// The error's message alone; returns the failure status 1.
int failure(const std::exception& error);

} // namespace quelmar::Output
