#pragma once

#include "core/BatteryConfig.h"
#include "core/Bytes.h"
#include "core/DeviceInfo.h"
#include "core/FirmwareImage.h"
#include "core/IAP.h"
#include "core/Report.h"
#include "core/Snapshot.h"
#include "core/UPSError.h"
#include "device/HIDPlatform.h"
#include "device/USBDevice.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelmar {

// Opening one of a board's interfaces failed: the message shown, and the platform's status behind it.
class OpenFailure : public UPSError {
public:
    OpenFailure(std::string message, HIDStatus status)
        : UPSError(std::move(message))
        , status_(status) {}
    HIDStatus status() const { return status_; }
    // The system does not let this user open the board (on Linux: no udev rule gives access).
    bool accessDenied() const { return status_ == EACCES || status_ == EPERM; }

private:
    HIDStatus status_;
};

// The open connection to one board. Used from one thread at a time: inside worker jobs in the
// application, on the main thread in the command line. No locks.
class HIDSession {
public:
    // How long flash() waits for each bootloader reply.
    static constexpr std::chrono::milliseconds defaultReplyDeadline{3000};

    explicit HIDSession(HIDPlatform& platform, std::chrono::milliseconds replyDeadline = defaultReplyDeadline);
    ~HIDSession();
    HIDSession(const HIDSession&) = delete;
    HIDSession& operator=(const HIDSession&) = delete;

    // Every attached board, in either mode, sorted by id. Never fails; why boards may be missing is the
    // platform's problem().
    static std::vector<USBDevice> discover(HIDPlatform& platform);

    std::chrono::milliseconds replyDeadline() const { return replyDeadline_; }
    void setReplyDeadline(std::chrono::milliseconds deadline) { replyDeadline_ = deadline; }

    // Opens the board with this id and reads its identity; a failed identity read leaves info() absent.
    void connect(const std::string& id);
    void close();

    // Reads report id as exactly count bytes from the vendor interface, or the power interface when power.
    Bytes get(std::uint8_t id, std::size_t count, ReportType type, bool power);
    Bytes get(ReportLayout report, ReportType type, bool power) { return get(report.id, report.size, type, power); }
    // Sends a complete report (byte 0 its ID) to the vendor interface.
    void set(ByteView report, ReportType type);

    // One telemetry sample: report 8 when the firmware answers it, else the legacy reports 1 to 4.
    Snapshot snapshot();
    // Writes report 7 and accepts it only when the board reads back the same values.
    void writeConfig(const BatteryConfig& config);
    // Writes, verifies and seals the image on a board in bootloader mode, one packet in flight, and closes
    // the session once the board has been told to restart. On failure the session stays open.
    void flash(const FirmwareImage& image, const IAP::Progress& progress);

    const std::optional<USBDevice>& device() const { return device_; }
    const std::optional<DeviceInfo>& info() const { return info_; }
    // The open vendor interface, for exchanges beyond get and set (bootloader replies); null when closed.
    HIDDevice* vendorDevice();

private:
    HIDDevice* opened(const HIDInterface& interface);

    HIDPlatform& platform_;
    std::chrono::milliseconds replyDeadline_;
    std::optional<USBDevice> device_;
    std::optional<DeviceInfo> info_;
    // The open interfaces in the order they were opened.
    std::vector<std::pair<HIDInterface, std::unique_ptr<HIDDevice>>> opened_;
};

} // namespace quelmar
