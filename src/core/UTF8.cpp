#include "core/UTF8.h"

#include <algorithm>

#include <utf8proc.h>

namespace quelmar {

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto length = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t at = 0;
    while (at < length) {
        if (bytes[at] < 0x80) {
            ++at;
            continue;
        }
        utf8proc_int32_t codepoint = 0;
        const auto width = utf8proc_iterate(bytes + at, length - at, &codepoint);
        if (width <= 0) {
            return false;
        }
        at += width;
    }
    return true;
}

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace quelmar
