#pragma once

#include <exception>
#include <string>
#include <utility>

namespace quelmar {

// The system's one error: its message is the exact text shown to the user.
class UPSError : public std::exception {
public:
    explicit UPSError(std::string message)
        : message_(std::move(message)) {}

    const std::string& message() const noexcept { return message_; }
    const std::string& errorDescription() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// What a person is shown for any error: a UPSError's whole message (what() would stop at a NUL), otherwise the
// error's own description.
inline std::string messageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const UPSError*>(&error)) {
        return own->message();
    }
    return error.what();
}

} // namespace quelmar
