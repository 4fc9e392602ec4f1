#pragma once

#include <string>
#include <vector>

namespace quelmar::Command {

// Runs the executable with the arguments, standard output and error on one pipe, and returns what it printed
// (empty when that is not UTF-8). A status other than 0 throws UPSError: the executable's file name,
// " 失败：", the output. A program that cannot be started, whose output cannot be read or whose end cannot be
// waited for throws std::system_error.
std::string run(const std::string& executable, const std::vector<std::string>& arguments);

} // namespace quelmar::Command
