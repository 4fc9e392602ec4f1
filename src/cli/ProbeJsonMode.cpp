#include "cli/Modes.h"
#include "cli/Output.h"
#include "cli/ProbeArguments.h"
#include "core/BatteryConfig.h"
#include "core/JsonRecords.h"
#include "core/UPSError.h"
#include "device/HIDSession.h"
#include "device/choice/SystemHID.h"

#include <chrono>
#include <thread>

namespace quelmar::Modes {

namespace {

void record(const nlohmann::json& object) {
    Output::line(JsonRecords::line(object));
}

} // namespace

int probeJson(const std::vector<std::string>& arguments) {
    return probeJson(arguments, systemHID);
}

// The probe's steps, each line a JSON object: no board gives no line at all.
int probeJson(const std::vector<std::string>& arguments, const std::function<HIDPlatform&()>& platform) {
    const auto samples = probeSampleCount(arguments);
    if (!samples) {
        record(JsonRecords::message("error", "--samples requires a count from 1 to 3600"));
        return 1;
    }
    try {
        HIDPlatform& hid = platform();
        const auto devices = HIDSession::discover(hid);
        if (const auto problem = hid.problem(); devices.empty() && problem) {
            record(JsonRecords::message("problem", *problem));
        }
        for (const auto& device : devices) {
            record(JsonRecords::board(device.product, device.serial, device.bootloader, device.id));
            HIDSession session(hid);
            session.connect(device.id);
            if (const auto& info = session.info()) {
                record(JsonRecords::identity(*info));
            }
            if (device.bootloader) {
                continue;
            }
            try {
                record(JsonRecords::config(BatteryConfig(session.get(Reports::config, ReportType::feature, false))));
            } catch (const UPSError&) {
                // A board without a valid configuration simply has no config record.
            }
            for (std::int64_t j = 1; j <= *samples; ++j) {
                record(JsonRecords::sample(j, session.snapshot()));
                if (j < *samples) {
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            }
        }
    } catch (const std::exception& e) {
        record(JsonRecords::message("error", messageOf(e)));
        return 1;
    }
    return 0;
}

} // namespace quelmar::Modes
