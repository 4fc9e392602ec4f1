#pragma once

#include "network/UPSProtocol.h"

#include <filesystem>
#include <string_view>

namespace quelmar::UsersFile {

// Who may LOGIN, one "NAME PASSWORD" a line; blank lines and lines starting with # are skipped.
// Throws std::runtime_error naming the line that is not of that form, or a name given twice.
UPSUsers parse(std::string_view text);

// The users file. It holds passwords, so one that its group or others can read is refused. Throws
// std::runtime_error with one line that names the file.
UPSUsers read(const std::filesystem::path& path);

} // namespace quelmar::UsersFile
