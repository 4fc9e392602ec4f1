#pragma once

#include <string>
#include <vector>

namespace quelmar::Entry {

// Chooses the command-line mode from the arguments (program path at index 0) and runs it;
// returns the process exit status.
int main(const std::vector<std::string>& arguments);

// The text printed by --help.
std::string usage();

} // namespace quelmar::Entry
