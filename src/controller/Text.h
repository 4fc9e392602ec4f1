#pragma once

#include "core/UPSError.h"

#include <exception>
#include <string>

#include <QString>

// Texts between the core's UTF-8 strings and Qt.
namespace quelmar::Text {

inline QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// What a person is shown for an error: a UPSError's message, any other error's description.
inline std::string messageOf(const std::exception& error) {
    if (const auto* ups = dynamic_cast<const UPSError*>(&error)) {
        return ups->message();
    }
    return error.what();
}

} // namespace quelmar::Text
