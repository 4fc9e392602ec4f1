#pragma once

#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedPlatform.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quelmar::test {

// A clock that moves only when a test moves it.
struct ManualClock {
    std::shared_ptr<std::chrono::steady_clock::time_point> now =
        std::make_shared<std::chrono::steady_clock::time_point>();

    EmulatedBoard::Clock function() const {
        return [now = now] { return *now; };
    }
    void advance(std::chrono::milliseconds by) const { *now += by; }
};

inline BoardDescription board(std::string product = "Quelmar DC UPS", std::int64_t location = 0x01100000,
                              std::string serial = "QM1") {
    BoardDescription b;
    b.product = std::move(product);
    b.location = location;
    b.serial = std::move(serial);
    return b;
}

inline InterfaceDescription interface(InterfaceRole role, std::optional<std::optional<std::int64_t>> usagePage = {}) {
    InterfaceDescription d(role);
    d.usagePage = usagePage;
    return d;
}

} // namespace quelmar::test
