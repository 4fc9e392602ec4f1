#pragma once

#include "device/HIDPlatform.h"
#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedBoard.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quelmar {

// Emulated boards behind the HID platform interface, indistinguishable from hidapi to the session.
// Safe to use from several threads; board() is for tests that hold the only reference.
class EmulatedPlatform final : public HIDPlatform {
public:
    explicit EmulatedPlatform(std::vector<BoardDescription> boards, EmulatedBoard::Clock clock = {});
    // "1": the standard board; anything else names a JSON description. Throws std::runtime_error.
    static std::unique_ptr<EmulatedPlatform> fromSetting(const std::string& setting);

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override;
    HIDOpenResult open(const HIDInterface& interface) override;

    std::size_t boardCount() const;
    EmulatedBoard& board(std::size_t index);

    struct State {
        std::mutex mutex; // held for every operation on the boards
        std::vector<std::unique_ptr<EmulatedBoard>> boards;
    };

private:
    std::shared_ptr<State> state_; // shared with the open devices, which may outlive the platform
};

} // namespace quelmar
