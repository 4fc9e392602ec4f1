#include "device/BootReceiver.h"

#include "core/IAP.h"

#include <thread>

namespace quelmar {

namespace {

// More than any kernel queues for one HID node; a board that never stops sending is not waited out.
constexpr int maxDrained = 256;

} // namespace

BootReceiver::BootReceiver(HIDDevice& device)
    : device_(device) {}

void BootReceiver::drain() {
    for (int i = 0; i < maxDrained; ++i) {
        const auto result = device_.readInputReport(buffer_, std::chrono::milliseconds(0));
        if (result.status != 0 || result.length == 0) {
            return;
        }
    }
}

void BootReceiver::receive(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    const auto result = device_.readInputReport(buffer_, timeout);
    if (result.status != 0) {
        std::this_thread::sleep_until(until);
        return;
    }
    accept(result);
}

void BootReceiver::accept(const HIDResult& result) {
    // Byte 0 is the report ID: one rule for both.
    if (result.status == 0 && result.length >= 2 && buffer_[0] == IAP::reportID) {
        status_ = buffer_[1];
    }
}

} // namespace quelmar
