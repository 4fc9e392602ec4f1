#include "install/Command.h"

#include "core/ToolFailure.h"
#include "core/UTF8.h"
#include "system/Descriptor.h"
#include "system/Files.h"
#include "system/Processes.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quelmar::Command {

std::string run(const std::string& executable, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    Descriptor readEnd(pipeEnds[0]);
    Descriptor writeEnd(pipeEnds[1]);
    Processes::FileActions actions;
    actions.duplicate(writeEnd.get(), STDOUT_FILENO)
        .duplicate(writeEnd.get(), STDERR_FILENO)
        .open(STDIN_FILENO, "/dev/null", O_RDONLY);
    const pid_t pid = Processes::spawn(executable, arguments, actions);
    writeEnd.reset();

    // Read to the end before waiting, so that a tool with much output never blocks on a full pipe.
    std::string output;
    try {
        Files::readToEnd(
            readEnd.get(),
            [&](ByteView block) {
                output.append(reinterpret_cast<const char*>(block.data()), block.size());
                return true;
            },
            executable);
    } catch (...) {
        // Not left behind as a zombie; with the pipe closed it cannot block on writing.
        readEnd.reset();
        Processes::wait(pid);
        throw;
    }
    readEnd.reset();
    const int status = Processes::wait(pid);
    if (!isValidUTF8(output)) {
        output.clear();
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw toolFailure(std::filesystem::path(executable).filename().string(), output);
    }
    return output;
}

} // namespace quelmar::Command
