#pragma once

#include "core/UPSError.h"

#include <string>
#include <string_view>

namespace quelmar {

// How a failed tool is reported to the user: its name, " 失败：", then what it said.
inline UPSError toolFailure(std::string_view tool, std::string_view output) {
    std::string message(tool);
    message += " 失败：";
    message += output;
    return UPSError(std::move(message));
}

} // namespace quelmar
