#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quelmar::test {

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

struct ProcessOptions {
    std::map<std::string, std::string> setEnv;   // added to (or replacing in) the test's environment
    std::vector<std::string> unsetEnv;           // removed from it
    std::optional<std::string> workingDirectory; // defaults to the test's
    std::chrono::seconds timeout{60};            // the child is killed after this
};

// Runs a real process to its end and captures its output streams separately.
ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Runs a tool that must succeed; throws std::runtime_error with its output when it does not.
void runChecked(const std::string& executable, const std::vector<std::string>& arguments);

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

} // namespace quelmar::test
