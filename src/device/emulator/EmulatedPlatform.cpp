#include "device/emulator/EmulatedPlatform.h"

#include "system/Files.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

namespace quelmar {

namespace {

// How often a blocked read looks for the next input report while none is on its way.
constexpr auto readSlice = std::chrono::milliseconds(1);

// Sleeps until then, spending the last stretch yielding: an emulated latency of a millisecond must not grow
// by the scheduler's wake-up slack.
void waitUntil(std::chrono::steady_clock::time_point then) {
    constexpr auto margin = std::chrono::microseconds(200);
    for (auto now = std::chrono::steady_clock::now(); now < then; now = std::chrono::steady_clock::now()) {
        if (then - now > margin) {
            std::this_thread::sleep_for(then - now - margin);
        } else {
            std::this_thread::yield();
        }
    }
}

class EmulatedDevice final : public HIDDevice {
public:
    EmulatedDevice(std::shared_ptr<EmulatedPlatform::State> state, std::size_t board, std::uint64_t epoch,
                   InterfaceRole role)
        : state_(std::move(state))
        , board_(board)
        , epoch_(epoch)
        , role_(role) {}
    ~EmulatedDevice() override {
        std::lock_guard lock(state_->mutex);
        state_->boards[board_]->countClose();
    }

    HIDResult getReport(ReportType type, std::uint8_t reportID, std::span<std::uint8_t> buffer) override {
        transfer();
        std::lock_guard lock(state_->mutex);
        auto* board = present();
        if (board == nullptr) {
            return {ENODEV, 0};
        }
        return board->getReport(role_, type, reportID, buffer);
    }

    HIDStatus setReport(ReportType type, ByteView report) override {
        transfer();
        std::lock_guard lock(state_->mutex);
        auto* board = present();
        return board == nullptr ? ENODEV : board->setReport(role_, type, report);
    }

    HIDResult readInputReport(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            std::optional<std::chrono::steady_clock::time_point> due;
            {
                std::lock_guard lock(state_->mutex);
                auto* board = present();
                if (board == nullptr) {
                    return {ENODEV, 0};
                }
                const auto result = board->nextInputReport(role_, buffer);
                if (result.status != 0 || result.length != 0) {
                    return result;
                }
                due = board->nextInputDue(role_);
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return {0, 0};
            }
            if (due) {
                waitUntil(std::min(*due, deadline));
            } else {
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(readSlice, deadline - now));
            }
        }
    }

private:
    // The time a transfer takes on the wire, spent outside the lock. The description never changes.
    void transfer() {
        const auto delay = state_->boards[board_]->description().faults.delayMilliseconds;
        if (delay > 0) {
            waitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(delay));
        }
    }

    // The board, while it is still the enumeration this handle was opened in.
    EmulatedBoard* present() {
        auto& board = *state_->boards[board_];
        return board.attached() && board.epoch() == epoch_ ? &board : nullptr;
    }

    std::shared_ptr<EmulatedPlatform::State> state_;
    std::size_t board_;
    std::uint64_t epoch_;
    InterfaceRole role_;
};

} // namespace

EmulatedPlatform::EmulatedPlatform(std::vector<BoardDescription> boards, EmulatedBoard::Clock clock)
    : state_(std::make_shared<State>()) {
    if (!clock) {
        clock = [] { return std::chrono::steady_clock::now(); };
    }
    for (std::size_t i = 0; i < boards.size(); ++i) {
        state_->boards.push_back(std::make_unique<EmulatedBoard>(std::move(boards[i]), i, clock));
    }
}

std::unique_ptr<EmulatedPlatform> EmulatedPlatform::fromSetting(const std::string& setting) {
    if (setting == "1") {
        return std::make_unique<EmulatedPlatform>(std::vector{BoardDescription::standard()});
    }
    std::optional<Bytes> text;
    try {
        text = Files::readUpTo(setting, maxDescriptionSize);
    } catch (const std::system_error&) {
        throw std::runtime_error("QUELMAR_SIMULATOR: cannot read " + setting);
    }
    if (!text) {
        throw std::runtime_error("QUELMAR_SIMULATOR: " + setting + ": larger than 1 MiB");
    }
    try {
        return std::make_unique<EmulatedPlatform>(BoardDescription::parse(
            std::string(text->begin(), text->end()), std::filesystem::path(setting).parent_path()));
    } catch (const std::exception& e) {
        throw std::runtime_error("QUELMAR_SIMULATOR: " + setting + ": " + e.what());
    }
}

std::vector<HIDInterface> EmulatedPlatform::enumerate(std::uint16_t vendorID) {
    std::lock_guard lock(state_->mutex);
    std::vector<HIDInterface> out;
    for (auto& board : state_->boards) {
        for (auto& interface : board->enumerate()) {
            if (interface.vendorID == vendorID) {
                out.push_back(std::move(interface));
            }
        }
    }
    return out;
}

HIDOpenResult EmulatedPlatform::open(const HIDInterface& interface) {
    std::lock_guard lock(state_->mutex);
    for (std::size_t i = 0; i < state_->boards.size(); ++i) {
        auto& board = *state_->boards[i];
        const auto role = board.roleOf(interface.path);
        if (!role) {
            continue;
        }
        const auto& faults = board.description().faults;
        if (faults.openStatus && (!faults.openFailsOn || *faults.openFailsOn == *role)) {
            return {nullptr, *faults.openStatus};
        }
        board.countOpen();
        return {std::make_unique<EmulatedDevice>(state_, i, board.epoch(), *role), 0};
    }
    // Like a hidraw node that has gone away.
    return {nullptr, ENOENT};
}

std::size_t EmulatedPlatform::boardCount() const {
    return state_->boards.size();
}

} // namespace quelmar
