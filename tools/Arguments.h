#pragma once

#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quelmar::publish {

// A command line the subcommand cannot run with; the tool prints it with the subcommand's usage.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "--name value" options, "--flag" switches and positional arguments, in any order.
struct Arguments {
    std::map<std::string, std::string> options;
    std::set<std::string> flags;
    std::vector<std::string> positional;

    static Arguments parse(std::span<const std::string> arguments, const std::set<std::string>& valueOptions,
                           const std::set<std::string>& flagOptions);

    std::optional<std::string> option(const std::string& name) const;
    std::string requiredOption(const std::string& name) const;
    bool flag(const std::string& name) const { return flags.contains(name); }
    // Throws UsageError unless there are exactly count positional arguments.
    void expectPositional(std::size_t count) const;
};

} // namespace quelmar::publish
