#include "cli/ProbeRecording.h"

#include "cli/Modes.h"
#include "cli/Output.h"
#include "core/DeviceInfo.h"
#include "core/UPSError.h"
#include "device/HIDSession.h"
#include "device/choice/SystemHID.h"
#include "system/Files.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <system_error>

namespace quelmar {

namespace {

// Members in the order a person reads them.
using json = nlohmann::ordered_json;

class RecordingDevice final : public HIDDevice {
public:
    RecordingDevice(std::unique_ptr<HIDDevice> device, std::string path, std::vector<RecordingHID::Read>& reads)
        : device_(std::move(device))
        , path_(std::move(path))
        , reads_(reads) {}

    HIDResult getReport(ReportType type, std::uint8_t reportID, std::span<std::uint8_t> buffer) override {
        const auto result = device_->getReport(type, reportID, buffer);
        const auto length = std::min(result.length, buffer.size());
        reads_.push_back({path_, type, reportID, result.status,
                          result.status == 0 ? Bytes(buffer.begin(), buffer.begin() + length) : Bytes{}});
        return result;
    }
    HIDStatus setReport(ReportType type, ByteView report) override { return device_->setReport(type, report); }
    HIDResult readInputReport(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        return device_->readInputReport(buffer, timeout);
    }

private:
    std::unique_ptr<HIDDevice> device_;
    std::string path_;
    std::vector<RecordingHID::Read>& reads_;
};

// The recorded interfaces again, for grouping them into boards as discovery does.
class SeenHID final : public HIDPlatform {
public:
    explicit SeenHID(const std::vector<HIDInterface>& seen)
        : seen_(seen) {}
    std::vector<HIDInterface> enumerate(std::uint16_t) override { return seen_; }
    HIDOpenResult open(const HIDInterface&) override { return {nullptr, ENODEV}; }

private:
    const std::vector<HIDInterface>& seen_;
};

std::string hex(ByteView bytes) {
    std::string out;
    for (const auto byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, out.empty() ? "%02x" : " %02x", byte);
        out += pair;
    }
    return out;
}

// The first successful read of this report, when there is one.
const RecordingHID::Read* firstRead(const std::vector<RecordingHID::Read>& reads, const std::string& path,
                                    std::uint8_t id) {
    const auto it = std::find_if(reads.begin(), reads.end(), [&](const auto& r) {
        return r.path == path && r.id == id && r.type == ReportType::feature && r.status == 0;
    });
    return it != reads.end() ? &*it : nullptr;
}

json boardOf(const USBDevice& device, const std::vector<HIDInterface>& seen,
             const std::vector<RecordingHID::Read>& reads,
             const std::vector<std::pair<std::string, HIDStatus>>& openFailures) {
    json board = {{"product", device.product},
                  {"serial", device.serial},
                  {"location", device.vendor.location.value_or(0)},
                  {"bootloader", device.bootloader}};
    const auto productID = device.vendor.productID.value_or(0);
    if (productID != (device.bootloader ? Board::bootloaderProductID : Board::appProductID)) {
        board["productID"] = productID;
    }
    const bool shared = device.power && device.power->path == device.vendor.path;
    const auto roleOf = [&](const std::string& path) {
        return shared || (device.power && device.power->path == path) ? "power" : "vendor";
    };
    if (!device.bootloader) {
        json interfaces = json::array();
        for (const auto& interface : seen) {
            if (interface.path == device.vendor.path || (device.power && interface.path == device.power->path)) {
                interfaces.push_back(roleOf(interface.path));
            }
        }
        board["interfaces"] = interfaces;
    }
    if (const auto* identity = firstRead(reads, device.vendor.path, Reports::identity.id)) {
        try {
            const DeviceInfo info(identity->bytes);
            board["hardware"] = info.hardware;
            board["software"] = info.software;
        } catch (const UPSError&) {
            // Replayed as read; the description keeps its default versions.
        }
    }
    if (const auto* config = firstRead(reads, device.vendor.path, Reports::config.id);
        config != nullptr && config->bytes.size() >= Reports::config.size && config->bytes[0] == Reports::config.id) {
        const Report stored(config->bytes, Reports::config);
        board["config"] = {
            {"capacity", stored.u16(1)}, {"resistanceMicroOhms", stored.u32(3)}, {"nominal", stored.u8(7)}};
    }
    json replies = json::array();
    for (const auto& read : reads) {
        const bool ours = read.path == device.vendor.path || (device.power && read.path == device.power->path);
        if (!ours || read.type == ReportType::output || (read.status == 0 && read.bytes.empty())) {
            continue;
        }
        json reply = {{"interface", roleOf(read.path)},
                      {"type", read.type == ReportType::input ? "input" : "feature"},
                      {"id", read.id}};
        if (read.status != 0) {
            reply["status"] = static_cast<std::uint32_t>(read.status);
        } else {
            reply["bytes"] = hex(read.bytes.size() > 64 ? ByteView(read.bytes).first(64) : ByteView(read.bytes));
        }
        replies.push_back(std::move(reply));
    }
    board["reports"] = std::move(replies);
    // A board that could not be opened is described as refusing to open.
    for (const auto& [path, status] : openFailures) {
        if (path == device.vendor.path || (device.power && path == device.power->path)) {
            board["faults"] = {{"openStatus", static_cast<std::uint32_t>(status)}, {"openFailsOn", roleOf(path)}};
            break;
        }
    }
    return board;
}

} // namespace

std::vector<HIDInterface> RecordingHID::enumerate(std::uint16_t vendorID) {
    auto interfaces = platform_.enumerate(vendorID);
    for (const auto& interface : interfaces) {
        if (std::none_of(seen_.begin(), seen_.end(), [&](const auto& s) { return s.path == interface.path; })) {
            seen_.push_back(interface);
        }
    }
    return interfaces;
}

HIDOpenResult RecordingHID::open(const HIDInterface& interface) {
    auto result = platform_.open(interface);
    if (result.device) {
        result.device = std::make_unique<RecordingDevice>(std::move(result.device), interface.path, reads_);
    } else {
        openFailures_.emplace_back(interface.path, result.status);
    }
    return result;
}

std::string RecordingHID::description() const {
    SeenHID seen(seen_);
    json boards = json::array();
    for (const auto& device : HIDSession::discover(seen)) {
        boards.push_back(boardOf(device, seen_, reads_, openFailures_));
    }
    return json{{"boards", boards}}.dump(2) + "\n";
}

namespace Modes {

int probeRecording(const std::vector<std::string>& arguments, const std::string& file) {
    std::optional<RecordingHID> recorder;
    const int status = probe(arguments, [&]() -> HIDPlatform& {
        if (!recorder) {
            recorder.emplace(systemHID());
        }
        return *recorder;
    });
    if (!recorder) {
        return status;
    }
    // Written whatever the probe's outcome: a board that fails it is what a bug report is about.
    try {
        Files::writeAtomically(file, recorder->description());
    } catch (const std::system_error& e) {
        Output::line("ERROR: cannot write the recording " + file + ": " + e.what());
        return 1;
    }
    return status;
}

} // namespace Modes

} // namespace quelmar
