#include "core/BatteryForm.h"

#include "core/UPSError.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include <locale.h>

namespace quelmar::BatteryForm {

std::optional<std::int64_t> parseInteger(std::string_view text) {
    // from_chars takes a "-" but not a "+", and nothing may follow the digits.
    const bool plus = !text.empty() && text.front() == '+';
    const auto digits = plus ? text.substr(1) : text;
    if (digits.empty() || digits.front() == '+' || (digits.front() == '-' && plus)) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseDouble(std::string_view text) {
    if (text.empty() || std::string_view(" \t\n\v\f\r").find(text.front()) != std::string_view::npos) {
        return std::nullopt;
    }
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    // A copy ends in NUL; an embedded NUL ends the conversion early and so fails the end check.
    const std::string copy(text);
    char* end = nullptr;
    const double value = ::strtod_l(copy.c_str(), &end, c);
    if (end != copy.c_str() + copy.size()) {
        return std::nullopt;
    }
    return value;
}

BatteryConfig parse(std::string_view capacity, std::string_view resistance, std::int64_t nominal) {
    const auto capacityValue = parseInteger(capacity);
    const auto milliOhms = parseDouble(resistance);
    if (!capacityValue || !milliOhms || !std::isfinite(*milliOhms) || *milliOhms < 1 || *milliOhms > 1000) {
        throw UPSError(std::string(invalidInput));
    }
    // llround rounds halves away from zero.
    return BatteryConfig(*capacityValue, std::llround(*milliOhms * 1000), nominal);
}

} // namespace quelmar::BatteryForm
