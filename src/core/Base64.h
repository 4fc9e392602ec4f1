#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace quelmar {

// Standard alphabet with padding and nothing else: no line breaks, no spaces.
std::optional<Bytes> decodeBase64(std::string_view text);

// The same after dropping every character outside the alphabet and "=" (replies that wrap lines).
std::optional<Bytes> decodeBase64IgnoringOthers(std::string_view text);

// Standard alphabet with padding, on one line.
std::string encodeBase64(ByteView bytes);

} // namespace quelmar
