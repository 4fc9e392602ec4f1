// The decoders of the board's APP-mode reports on any bytes: only UPSError; the telemetry report decodes every
// field, and a configuration report that decodes is the report its values encode.
#include "Fuzz.h"
#include "core/BatteryConfig.h"
#include "core/DeviceInfo.h"
#include "core/Report.h"
#include "core/Snapshot.h"
#include "core/UPSError.h"

#include <algorithm>
#include <array>

using namespace quelmar;

namespace {

// The legacy reports 1 to 4 as four slices of the input, their lengths from its first four bytes.
void legacy(ByteView input) {
    if (input.size() < 4) {
        return;
    }
    std::array<ByteView, 4> reports;
    ByteView rest = input.subspan(4);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const std::size_t length = std::min<std::size_t>(input[i] % 32, rest.size());
        reports[i] = rest.first(length);
        rest = rest.subspan(length);
    }
    try {
        const auto snapshot = Snapshot::legacy(reports[0], reports[1], reports[2], reports[3]);
        snapshot.statuses();
        snapshot.batteryPower();
    } catch (const UPSError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::bytes(data, size);
    try {
        const auto snapshot = Snapshot::full(input);
        QUELMAR_FUZZ_CHECK(snapshot.output12Current && snapshot.load && snapshot.batteryPower());
        snapshot.statuses();
    } catch (const UPSError&) {
    }
    try {
        DeviceInfo(input).supportsFullReport();
    } catch (const UPSError&) {
    }
    try {
        const auto report = BatteryConfig(input).report();
        QUELMAR_FUZZ_CHECK(std::equal(report.begin(), report.end(), input.begin()));
    } catch (const UPSError&) {
    }
    legacy(input);
    return 0;
}
