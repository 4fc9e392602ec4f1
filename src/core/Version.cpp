#include "core/Version.h"

#include "core/UPSError.h"

#include <limits>
#include <string>

namespace quelmar {

Version::Version(std::string_view text) {
    const auto invalid = [&] { return UPSError("版本号无效：" + std::string(text)); };
    constexpr auto max = std::numeric_limits<std::int64_t>::max();

    std::vector<std::string_view> pieces;
    std::size_t begin = 0;
    while (true) {
        const auto dot = text.find('.', begin);
        pieces.push_back(text.substr(begin, dot == std::string_view::npos ? std::string_view::npos : dot - begin));
        if (dot == std::string_view::npos) {
            break;
        }
        begin = dot + 1;
    }
    if (pieces.size() != 3) {
        throw invalid();
    }
    for (const auto piece : pieces) {
        if (piece.empty()) {
            throw invalid();
        }
        for (const char c : piece) {
            if (c < '0' || c > '9') {
                throw invalid();
            }
        }
    }
    for (const auto piece : pieces) {
        std::int64_t value = 0;
        for (const char c : piece) {
            const int digit = c - '0';
            if (value > (max - digit) / 10) {
                throw invalid();
            }
            value = value * 10 + digit;
        }
        parts_.push_back(value);
    }
}

} // namespace quelmar
