#include "cli/Modes.h"
#include "cli/Output.h"
#include "cli/ProbeArguments.h"
#include "core/BatteryConfig.h"
#include "core/Report.h"
#include "core/Snapshot.h"
#include "core/UPSError.h"
#include "device/HIDSession.h"
#include "device/choice/SystemHID.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace quelmar::Modes {

namespace {

// The shortest text that reads back as the same double, always with a fraction part.
std::string real(std::optional<double> value) {
    if (!value) {
        return "-1.0";
    }
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, *value);
    std::string out(text, ec == std::errc() ? end : text);
    if (out.find_first_of(".e") == std::string::npos && out.find("inf") == std::string::npos &&
        out.find("nan") == std::string::npos) {
        out += ".0";
    }
    return out;
}

std::string statusList(const Snapshot& snapshot) {
    std::string out = "[";
    for (const auto& label : snapshot.statuses()) {
        out += (out.size() > 1 ? ", \"" : "\"") + label + "\"";
    }
    return out + "]";
}

std::string sampleLine(std::int64_t j, const Snapshot& s) {
    return "sample=" + std::to_string(j) + " battery=" + real(s.batteryVoltage) +
           "V current=" + real(s.batteryCurrent) + "A soc=" + std::to_string(s.capacity.value_or(-1)) +
           "% temperature=" + real(s.temperature) + "C input=" + real(s.inputVoltage) + "V/" + real(s.inputCurrent) +
           "A output5=" + real(s.output5Voltage) + "V/" + real(s.output5Current) +
           "A output12=" + real(s.output12Voltage) + "V/" + real(s.output12Current) + "A status=" + statusList(s);
}

void readings(HIDSession& session, std::int64_t samples) {
    try {
        const BatteryConfig config(session.get(Reports::config, ReportType::feature, false));
        Output::line("config capacity=" + std::to_string(config.capacity()) + "mAh resistance=" +
                     std::to_string(config.resistanceMicroOhms()) + "uOhm nominal=" + std::to_string(config.nominal()));
    } catch (const UPSError&) {
        // A board without a valid configuration simply has no config line.
    }
    for (std::int64_t j = 1; j <= samples; ++j) {
        Output::line(sampleLine(j, session.snapshot()));
        if (j < samples) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
}

} // namespace

int probe(const std::vector<std::string>& arguments) {
    if (const auto it = std::find(arguments.begin() + 1, arguments.end(), "--record"); it != arguments.end()) {
        if (it + 1 == arguments.end()) {
            Output::line("--record requires a file");
            return 1;
        }
        return probeRecording(arguments, *(it + 1));
    }
    return probe(arguments, systemHID);
}

int probe(const std::vector<std::string>& arguments, const std::function<HIDPlatform&()>& platform) {
    const auto samples = probeSampleCount(arguments);
    if (!samples) {
        Output::line("--samples requires a count from 1 to 3600");
        return 1;
    }
    try {
        HIDPlatform& hid = platform();
        const auto devices = HIDSession::discover(hid);
        if (devices.empty()) {
            Output::line("No Quelmar connected");
            if (const auto problem = hid.problem()) {
                Output::line("HID problem: " + *problem);
            }
            return 0;
        }
        for (const auto& device : devices) {
            Output::line(device.product + " serial=" + device.serial +
                         " boot=" + (device.bootloader ? "true" : "false") + " id=" + device.id);
            HIDSession session(hid);
            session.connect(device.id);
            if (const auto& info = session.info()) {
                Output::line("HW " + info->hardware + " FW " + info->software);
            }
            if (!device.bootloader) {
                readings(session, *samples);
            }
        }
    } catch (const std::exception& e) {
        // UPSError carries the message the user sees; the emulator's description errors arrive here too.
        Output::line(std::string("ERROR: ") + e.what());
        return 1;
    }
    return 0;
}

} // namespace quelmar::Modes
