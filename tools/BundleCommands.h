#pragma once

#include <span>
#include <string>

// The publisher's bundle subcommands. Each takes the arguments after its name and returns the exit status; a
// wrong command line throws std::invalid_argument (status 2), any other failure another exception (status 1).
namespace quelmar::publish {

// seal --key KEY [--public-key HEX] BUNDLE
int seal(std::span<const std::string> arguments);
// pack [--public-key HEX] BUNDLE ARCHIVE
int pack(std::span<const std::string> arguments);

} // namespace quelmar::publish
