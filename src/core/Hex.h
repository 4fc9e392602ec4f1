#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace quelmar {

// Bytes from pairs of hexadecimal digits (either case). No value for an odd length or any other
// character; the empty text gives empty bytes.
std::optional<Bytes> fromHex(std::string_view text);

// Two lower-case hexadecimal digits per byte.
std::string toHex(ByteView bytes);

} // namespace quelmar
