#pragma once

#include <compare>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quelmar {

// A three-part numeric version, "major.minor.patch" of ASCII digits, ordered numerically.
class Version {
public:
    // Throws UPSError "版本号无效：<text>" for anything but three non-empty runs of ASCII digits
    // that each fit a signed 64-bit integer. Nothing is trimmed.
    explicit Version(std::string_view text);

    const std::vector<std::int64_t>& parts() const { return parts_; }

    // Lexicographic over the parts; a proper prefix is the lesser.
    std::strong_ordering operator<=>(const Version&) const = default;
    bool operator==(const Version&) const = default;

private:
    std::vector<std::int64_t> parts_;
};

} // namespace quelmar
