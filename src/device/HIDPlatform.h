#pragma once

#include "core/Bytes.h"
#include "core/Report.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quelmar {

// A platform status: 0 for success, otherwise the errno (or, without one, the library's own code) of the
// failed call. Messages print it as eight hexadecimal digits.
using HIDStatus = std::int32_t;

// One HID interface as the platform enumerates it. A property the platform does not give is absent.
struct HIDInterface {
    std::string path; // identifies the interface; one node may carry several collections under one path
    std::optional<std::int64_t> vendorID;
    std::optional<std::int64_t> productID;
    std::optional<std::string> product;
    std::optional<std::string> serial;
    std::optional<std::int64_t> location; // the board's position on the bus, the same for all its interfaces
    std::optional<std::int64_t> primaryUsagePage;

    bool operator==(const HIDInterface&) const = default;
};

// The outcome of one transfer: a status and, for a received report, how many bytes the platform delivered.
// A length larger than the buffer means the report was longer than the buffer and was cut.
struct HIDResult {
    HIDStatus status = 0;
    std::size_t length = 0;
};

// One open HID interface; destroying it closes it.
class HIDDevice {
public:
    HIDDevice() = default;
    HIDDevice(const HIDDevice&) = delete;
    HIDDevice& operator=(const HIDDevice&) = delete;
    virtual ~HIDDevice() = default;

    // Fills buffer with the report of this type and ID. buffer[0] holds the report ID on the way in and out.
    virtual HIDResult getReport(ReportType type, std::uint8_t reportID, std::span<std::uint8_t> buffer) = 0;
    // Sends a complete report; byte 0 is its ID.
    virtual HIDStatus setReport(ReportType type, ByteView report) = 0;
    // Waits at most timeout for the next input report (byte 0 its ID). Status 0 with length 0: none arrived.
    virtual HIDResult readInputReport(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) = 0;
};

struct HIDOpenResult {
    std::unique_ptr<HIDDevice> device; // null when the open failed
    HIDStatus status = 0;
};

// What discovery and the session need of the platform's HID access.
class HIDPlatform {
public:
    HIDPlatform() = default;
    HIDPlatform(const HIDPlatform&) = delete;
    HIDPlatform& operator=(const HIDPlatform&) = delete;
    virtual ~HIDPlatform() = default;

    // Every attached HID interface of this USB vendor, in the platform's enumeration order.
    virtual std::vector<HIDInterface> enumerate(std::uint16_t vendorID) = 0;
    // Opens one interface, not exclusively.
    virtual HIDOpenResult open(const HIDInterface& interface) = 0;

    // Why the last enumeration may have missed boards: the platform's HID access itself failed, for a reason
    // a log can show. Absent when it worked. Enumeration still returns what it found (nothing, usually).
    virtual std::optional<std::string> problem() const { return std::nullopt; }
};

} // namespace quelmar
