#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace quelmar {

// Bytes from pairs of hexadecimal digits (either case). No value for an odd length or any other
// character; the empty text gives empty bytes.
std::optional<Bytes> fromHex(std::string_view text);
// The same into out, replacing what it holds (a caller decoding many texts reuses one buffer); false, and out
// unspecified, where the above gives no value.
bool fromHex(std::string_view text, Bytes& out);

// Two lower-case hexadecimal digits per byte.
std::string toHex(ByteView bytes);

} // namespace quelmar
