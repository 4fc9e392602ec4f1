#include "core/Base64.h"

#include "core/Sodium.h"

#include <sodium.h>

namespace quelmar {

std::optional<Bytes> decodeBase64(std::string_view text) {
    requireSodium();
    Bytes out(text.size() / 4 * 3 + 3);
    std::size_t length = 0;
    // No end pointer: anything left undecoded is a failure instead of a shorter result.
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

std::optional<Bytes> decodeBase64IgnoringOthers(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
            c == '=') {
            kept.push_back(c);
        }
    }
    return decodeBase64(kept);
}

std::string encodeBase64(ByteView bytes) {
    requireSodium();
    std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1); // the terminating NUL
    return out;
}

} // namespace quelmar
