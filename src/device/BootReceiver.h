#pragma once

#include "device/HIDPlatform.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quelmar {

// Receives the bootloader's replies, input report 1, on the vendor interface for one flashing job.
// Only touched by the thread running that job.
class BootReceiver {
public:
    static constexpr std::size_t bufferSize = 64;

    explicit BootReceiver(HIDDevice& device);
    BootReceiver(const BootReceiver&) = delete;
    BootReceiver& operator=(const BootReceiver&) = delete;

    // The status of the last accepted reply; absent while one is awaited.
    const std::optional<std::uint8_t>& status() const { return status_; }
    void await() { status_.reset(); }

    // Reads and discards what has already arrived, so that only a reply sent after the next packet can be
    // accepted for it.
    void drain();
    // Waits at most timeout for one input report and takes its status when the reply rule accepts it.
    // A failed read still takes the whole timeout, so that a board that has gone is not polled in a busy loop.
    void receive(std::chrono::milliseconds timeout);

private:
    void accept(const HIDResult& result);

    HIDDevice& device_;
    std::array<std::uint8_t, bufferSize> buffer_{};
    std::optional<std::uint8_t> status_;
};

} // namespace quelmar
