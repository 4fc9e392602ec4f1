#pragma once

#include "device/HIDPlatform.h"

#include <string>
#include <utility>
#include <vector>

namespace quelmar {

// HID access that passes every call on and remembers what it saw: the interfaces enumerated and the answer to
// every report read. Enough to describe the boards for the emulated board to replay.
class RecordingHID final : public HIDPlatform {
public:
    explicit RecordingHID(HIDPlatform& platform)
        : platform_(platform) {}

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override;
    HIDOpenResult open(const HIDInterface& interface) override;
    std::optional<std::string> problem() const override { return platform_.problem(); }

    // The boards seen, as the JSON description QUELMAR_SIMULATOR reads.
    std::string description() const;

    struct Read {
        std::string path;
        ReportType type;
        std::uint8_t id;
        HIDStatus status;
        Bytes bytes;
    };

private:
    HIDPlatform& platform_;
    std::vector<HIDInterface> seen_; // every interface enumerated, first sighting first
    std::vector<Read> reads_;        // in the order they were made; shared with the open devices
    std::vector<std::pair<std::string, HIDStatus>> openFailures_; // path and status
};

} // namespace quelmar
