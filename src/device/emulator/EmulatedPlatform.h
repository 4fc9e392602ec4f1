#pragma once

#include "device/HIDPlatform.h"
#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedBoard.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace quelmar {

// Emulated boards behind the HID platform interface, indistinguishable from hidapi to the session.
// Safe to use from several threads.
class EmulatedPlatform final : public HIDPlatform {
public:
    explicit EmulatedPlatform(std::vector<BoardDescription> boards, EmulatedBoard::Clock clock = {});
    // Descriptions larger than this are not read.
    static constexpr std::uint64_t maxDescriptionSize = 1024 * 1024;

    // "1": the standard board; anything else names a JSON description. Throws std::runtime_error.
    static std::unique_ptr<EmulatedPlatform> fromSetting(const std::string& setting);

    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override;
    HIDOpenResult open(const HIDInterface& interface) override;

    std::size_t boardCount() const;
    // Runs f on one board under the lock and returns a copy of its result, so that nothing the lock guards is
    // reached outside it. f must not use this platform or its devices: the lock is not recursive.
    template <typename F>
    auto withBoard(std::size_t index, F&& f) -> std::remove_cvref_t<std::invoke_result_t<F&, EmulatedBoard&>> {
        std::lock_guard lock(state_->mutex);
        return std::invoke(f, *state_->boards.at(index));
    }

    struct State {
        std::mutex mutex; // held for every operation on the boards
        std::vector<std::unique_ptr<EmulatedBoard>> boards;
    };

private:
    std::shared_ptr<State> state_; // shared with the open devices, which may outlive the platform
};

} // namespace quelmar
