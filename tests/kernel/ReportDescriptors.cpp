#include "ReportDescriptors.h"

#include "core/IAP.h"
#include "core/Report.h"

namespace quelmar::test::ReportDescriptors {

namespace {

// Main items
constexpr std::uint8_t input = 0x81, output = 0x91, feature = 0xB1;
constexpr std::uint8_t dataVariableAbsolute = 0x02;

// Usage page (none when absent, as an override may ask), a usage, an application collection, 8-bit fields.
Bytes opening(std::optional<std::int64_t> usagePage, std::uint8_t usage) {
    Bytes out;
    if (usagePage) {
        const auto page = static_cast<std::uint16_t>(*usagePage);
        // clang-format off
        out = page <= 0xFF ? Bytes{0x05, static_cast<std::uint8_t>(page)}
                           : Bytes{0x06, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8)};
        // clang-format on
    }
    // clang-format off
    const Bytes rest = {
        0x09, usage,      // usage
        0xA1, 0x01,       // collection (application)
        0x15, 0x00,       // logical minimum 0
        0x26, 0xFF, 0x00, // logical maximum 255
        0x75, 0x08,       // report size 8 bits
    };
    // clang-format on
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// One report of byteCount bytes, the ID included.
void report(Bytes& out, std::uint8_t mainItem, std::uint8_t id, std::uint8_t usage, std::size_t byteCount) {
    // clang-format off
    const Bytes item = {
        0x85, id,                                      // report ID
        0x09, usage,                                   // usage
        0x95, static_cast<std::uint8_t>(byteCount - 1), // report count: the bytes after the ID
        mainItem, dataVariableAbsolute,
    };
    // clang-format on
    out.insert(out.end(), item.begin(), item.end());
}

Bytes closing(Bytes out) {
    out.push_back(0xC0); // end collection
    return out;
}

} // namespace

Bytes power(std::optional<std::int64_t> usagePage) {
    auto out = opening(usagePage, 0x04); // UPS
    report(out, input, Reports::summary.id, 0x02, Reports::summary.size);
    report(out, feature, Reports::input.id, 0x1A, Reports::input.size);
    report(out, feature, Reports::output.id, 0x1C, Reports::output.size);
    report(out, feature, Reports::battery.id, 0x12, Reports::battery.size);
    return closing(std::move(out));
}

Bytes vendor(std::optional<std::int64_t> usagePage) {
    auto out = opening(usagePage, 0x01);
    for (const auto& layout : {Reports::enterBootloader, Reports::identity, Reports::config, Reports::telemetry}) {
        report(out, feature, layout.id, layout.id, layout.size);
    }
    return closing(std::move(out));
}

Bytes bootloader(std::optional<std::int64_t> usagePage) {
    auto out = opening(usagePage, 0x01);
    report(out, input, IAP::reportID, 0x02, IAP::packetSize);
    report(out, output, IAP::reportID, 0x03, IAP::packetSize);
    return closing(std::move(out));
}

} // namespace quelmar::test::ReportDescriptors
