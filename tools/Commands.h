#pragma once

#include <span>
#include <string>
#include <string_view>

// The publisher tool's subcommands, one file each; main.cpp lists them. Each takes the arguments after
// its name, returns the exit status, and may throw UsageError (status 2) or any other error (status 1).
namespace quelmar::publish {

struct Command {
    std::string_view name;
    std::string_view usage;   // the arguments, after "quelmar-publish NAME"
    std::string_view summary; // one line for the tool's --help
    std::string_view details; // the subcommand's --help, after its usage line
    int (*run)(std::span<const std::string> arguments);
};

extern const Command keygenCommand;
extern const Command signFeedCommand;
extern const Command sealCommand;
extern const Command packCommand;

} // namespace quelmar::publish
