#pragma once

#include <string_view>

namespace quelmar {

// Well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool isValidUTF8(std::string_view text);

// Only bytes below 0x80.
bool isASCII(std::string_view text);

} // namespace quelmar
