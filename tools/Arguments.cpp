#include "tools/Arguments.h"

namespace quelmar::publish {

Arguments Arguments::parse(std::span<const std::string> arguments, const std::set<std::string>& valueOptions,
                           const std::set<std::string>& flagOptions) {
    Arguments out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || !argument.starts_with("-")) {
            out.positional.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (valueOptions.contains(argument)) {
            if (i + 1 == arguments.size()) {
                throw UsageError(argument + " needs a value");
            }
            if (!out.options.emplace(argument, arguments[i + 1]).second) {
                throw UsageError(argument + " given twice");
            }
            ++i;
        } else if (flagOptions.contains(argument)) {
            out.flags.insert(argument);
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    return out;
}

std::optional<std::string> Arguments::option(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::string Arguments::requiredOption(const std::string& name) const {
    const auto value = option(name);
    if (!value) {
        throw UsageError(name + " is required");
    }
    return *value;
}

void Arguments::expectPositional(std::size_t count) const {
    if (positional.size() < count) {
        throw UsageError("missing argument");
    }
    if (positional.size() > count) {
        throw UsageError("unexpected argument " + positional[count]);
    }
}

} // namespace quelmar::publish
