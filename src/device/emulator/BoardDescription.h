#pragma once

#include "core/Bytes.h"
#include "core/Report.h"
#include "core/Snapshot.h"
#include "device/HIDPlatform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quelmar {

// Which reports an emulated interface answers, and the usage page it shows unless told otherwise.
enum class InterfaceRole { vendor, power };

// One HID interface of an emulated board. Each override replaces what the board would enumerate with;
// an override holding nullopt makes the property missing altogether.
struct InterfaceDescription {
    InterfaceDescription(InterfaceRole r = InterfaceRole::vendor)
        : role(r) {}

    InterfaceRole role;
    std::optional<std::optional<std::int64_t>> usagePage;
    std::optional<std::optional<std::int64_t>> productID;
    std::optional<std::optional<std::int64_t>> location;
    std::optional<std::optional<std::string>> product;
    std::optional<std::optional<std::string>> serial;
};

// The battery configuration as the board stores it: not validated, only bounded by its field widths.
struct StoredConfig {
    std::int64_t capacity = 2600;
    std::int64_t resistanceMicroOhms = 45000;
    std::int64_t nominal = 2;

    bool operator==(const StoredConfig&) const = default;
};

// Ways the board can be told to misbehave.
struct BoardFaults {
    std::optional<HIDStatus> openStatus;             // opening fails with this status
    std::optional<InterfaceRole> openFailsOn;        // only this interface fails to open; absent: every one
    std::map<std::uint8_t, HIDStatus> getStatus;     // reading report N fails with this status
    std::map<std::uint8_t, HIDStatus> setStatus;     // writing report N fails with this status
    std::map<std::uint8_t, std::size_t> replyLength; // report N is answered with this many bytes
    std::map<std::uint8_t, std::uint8_t> replyID;    // report N is answered with this byte 0
    std::optional<std::int64_t> readBackCapacity;    // after a report 7 write the board stores this instead
    std::optional<std::int64_t> readBackResistance;
    std::optional<std::int64_t> readBackNominal;

    // Bootloader packets are numbered from 1 in the order the bootloader receives them since it started.
    std::optional<std::size_t> dropReply;                 // packet N is not answered
    std::map<std::size_t, std::uint8_t> replyStatus;      // packet N is answered with this status instead of executed
    std::optional<std::size_t> vanishAfter;               // the board leaves the bus for good once it has answered N
    std::map<std::size_t, std::vector<Bytes>> sendBefore; // input reports sent ahead of the answer to packet N
    std::map<std::size_t, std::vector<Bytes>> sendAfter;  // input reports sent right behind it (late duplicates)
    std::int64_t delayMilliseconds = 0;                   // every transfer, either way, takes this long

    // An APP-mode board is off the bus from leaveAfter after its start until returnAfter later (for good without it).
    std::optional<std::int64_t> leaveAfterMilliseconds;
    std::optional<std::int64_t> returnAfterMilliseconds;

    bool operator==(const BoardFaults&) const = default;
};

// One answer of a real board to a report read, as `quelmar --probe --record` saw it: the emulated board gives it back.
struct RecordedReply {
    InterfaceRole interface = InterfaceRole::vendor;
    ReportType type = ReportType::feature;
    std::uint8_t id = 0;
    HIDStatus status = 0; // not 0: the read failed with this status
    Bytes bytes;          // the report as read, byte 0 its ID

    bool operator==(const RecordedReply&) const = default;
};

struct BoardDescription {
    std::string product = "Quelmar DC UPS";
    std::string serial;
    std::int64_t location = 0; // 0: the interfaces have no location
    bool bootloader = false;   // the mode the board starts in
    std::int64_t vendorID = Board::vendorID;
    std::optional<std::int64_t> productID; // absent: 2 in APP mode, 3 in bootloader mode
    std::array<std::uint8_t, 2> hardware{1, 2};
    std::array<std::uint8_t, 3> software{1, 0, 8};
    std::vector<InterfaceDescription> interfaces{{InterfaceRole::vendor}, {InterfaceRole::power}}; // APP mode
    StoredConfig config;
    Snapshot telemetry = defaultTelemetry(); // physical units, every field present
    bool moving = false;                     // telemetry follows a charge and discharge cycle instead
    std::int64_t restartMilliseconds = 500;  // how long the board stays off the bus when it restarts
    Bytes image;                             // the APP image it holds; empty: not modelled
    BoardFaults faults;
    // Replayed in their order (the last one again and again) in place of what the board would answer itself, until
    // it first restarts; a report written since is answered by the board.
    std::vector<RecordedReply> reports;

    static Snapshot defaultTelemetry();
    // The board QUELMAR_SIMULATOR=1 selects: APP mode, both interfaces, moving telemetry.
    static BoardDescription standard();
    // Parses a JSON description {"boards": [...]}; throws std::runtime_error naming the faulty member.
    // Relative "image" paths are taken from directory.
    static std::vector<BoardDescription> parse(const std::string& json, const std::filesystem::path& directory = {});
};

} // namespace quelmar
