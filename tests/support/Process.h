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

// A real process the test talks to while it runs: its standard output read line by line, its standard error kept.
// A process still running when this is destroyed is killed.
class RunningProcess {
public:
    RunningProcess(const std::string& executable, const std::vector<std::string>& arguments,
                   const ProcessOptions& options = {});
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    // The next line of its standard output; none once it has closed it, or when none came within the wait.
    std::optional<std::string> line(std::chrono::milliseconds wait = std::chrono::seconds(10));
    // Lines up to and including the first that contains text; none when it does not come within the wait.
    std::optional<std::vector<std::string>> linesUntil(const std::string& text,
                                                       std::chrono::milliseconds wait = std::chrono::seconds(10));
    void signal(int number);
    // Waits for its end (killing it after the timeout); out holds what had not been read as lines.
    ProcessResult finish(std::chrono::seconds timeout = std::chrono::seconds(30));

private:
    // Reads what is there into the buffers, waiting at most this long; false once both streams are closed.
    bool pump(std::chrono::milliseconds wait);

    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
};

// Runs a tool that must succeed; throws std::runtime_error with its output when it does not.
void runChecked(const std::string& executable, const std::vector<std::string>& arguments);

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

} // namespace quelmar::test
