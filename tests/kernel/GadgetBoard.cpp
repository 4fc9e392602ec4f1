// quelmar-gadget BOARDS.json [--board N] [--image FILE] [--gadgetfs DIR]
//
// Serves one emulated board (the same logic and descriptions as QUELMAR_SIMULATOR) as a USB device through gadgetfs,
// so that the kernel's usbhid and hidraw drivers see it as they see a board on a USB port. A restart into the other
// mode unregisters the gadget and registers it again with the other mode's descriptors once the board's restart
// time has passed; a board that leaves the bus for good ends the program. SIGTERM ends it too (an unplug).
// After every enumeration and at the end, --image receives the APP area as the board holds it.
#include "ReportDescriptors.h"
#include "UsbGadget.h"
#include "device/emulator/BoardDescription.h"
#include "device/emulator/EmulatedBoard.h"
#include "system/Files.h"

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using namespace quelmar;
using namespace quelmar::test;

namespace {

int wakeWrite = -1;
std::atomic<bool> terminated{false};

void wake() {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wakeWrite, &byte, 1);
}

extern "C" void onTerminate(int) {
    terminated = true;
    wake();
}

// The emulated board behind the gadget. Each enumeration is one registration of the gadget; requests that reach
// an earlier one after the board has restarted are refused.
class BoardOnTheBus final : public GadgetDevice {
public:
    explicit BoardOnTheBus(BoardDescription description)
        : board_(std::move(description), 0, [] { return std::chrono::steady_clock::now(); }) {}

    // Waits until the board is on the bus; false when it has left for good or the program is told to end.
    bool waitUntilBack() {
        while (!terminated) {
            {
                std::lock_guard lock(mutex_);
                if (board_.gone()) {
                    return false;
                }
                if (board_.attached()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // What the board enumerates with now; the requests of this registration go to these interfaces.
    GadgetLayout layout() {
        std::lock_guard lock(mutex_);
        const auto interfaces = board_.enumerate();
        epoch_ = board_.epoch();
        roles_.clear();
        sending_ = false;
        GadgetLayout out;
        out.vendorID = static_cast<std::uint16_t>(board_.description().vendorID);
        const bool bootloader = board_.mode() == BoardMode::bootloader;
        out.interval = bootloader ? 1 : 10;
        for (const auto& interface : interfaces) {
            const auto role = board_.roleOf(interface.path).value_or(InterfaceRole::vendor);
            roles_.push_back(role);
            const auto page = interface.primaryUsagePage;
            if (bootloader) {
                out.interfaces.push_back({ReportDescriptors::bootloader(page), true});
            } else if (role == InterfaceRole::power) {
                out.interfaces.push_back({ReportDescriptors::power(page), false});
            } else {
                out.interfaces.push_back({ReportDescriptors::vendor(page), false});
            }
        }
        // One USB device has one product ID and one set of strings: the first interface's.
        if (!interfaces.empty()) {
            out.productID = static_cast<std::uint16_t>(interfaces[0].productID.value_or(0));
            out.product = interfaces[0].product.value_or("");
            out.serial = interfaces[0].serial.value_or("");
        }
        return out;
    }

    // The registration has ended: the board restarted or left, and the last input report it sent has gone out.
    bool ended() {
        std::lock_guard lock(mutex_);
        return board_.epoch() != epoch_ && !sending_;
    }

    Bytes image() {
        std::lock_guard lock(mutex_);
        return board_.storedImage();
    }

    std::optional<Bytes> getReport(std::size_t interface, ReportType type, std::uint8_t id,
                                   std::size_t length) override {
        delay();
        std::lock_guard lock(mutex_);
        if (board_.epoch() != epoch_) {
            return std::nullopt;
        }
        Bytes buffer(std::max<std::size_t>(length, 256), 0);
        const auto result = board_.getReport(roles_.at(interface), type, id, buffer);
        if (result.status != 0) {
            gadgetLog("report " + std::to_string(id) + " refused with status " + std::to_string(result.status));
            return std::nullopt;
        }
        buffer.resize(std::min(result.length, buffer.size()));
        return buffer;
    }

    void setReport(std::size_t interface, ReportType type, ByteView report) override {
        delay();
        {
            std::lock_guard lock(mutex_);
            if (board_.epoch() != epoch_) {
                return;
            }
            if (type == ReportType::output && report.size() > 1 && report[1] != 0x80 && report[1] != 0x82) {
                char text[48];
                std::snprintf(text, sizeof text, "bootloader command %02x", report[1]);
                gadgetLog(text);
            }
            if (const auto status = board_.setReport(roles_.at(interface), type, report); status != 0) {
                gadgetLog("a report " + std::to_string(report.empty() ? 0 : report[0]) + " the board refuses (status " +
                          std::to_string(status) + "); the host saw it taken, as gadgetfs cannot stall it");
            }
        }
        changed_.notify_all();
        wake();
    }

    std::optional<Bytes> nextInputReport(std::size_t interface, std::chrono::steady_clock::time_point then) override {
        std::unique_lock lock(mutex_);
        while (std::chrono::steady_clock::now() < then) {
            // After a restart nothing more is sent in this registration; the wait goes on, so as not to spin.
            std::optional<std::chrono::steady_clock::time_point> due;
            if (board_.epoch() == epoch_) {
                Bytes buffer(256, 0);
                const auto result = board_.nextInputReport(roles_.at(interface), buffer);
                if (result.length != 0) {
                    buffer.resize(std::min(result.length, buffer.size()));
                    sending_ = true;
                    return buffer;
                }
                due = board_.nextInputDue(roles_.at(interface));
            }
            changed_.wait_until(lock, due ? std::min(*due, then) : then);
        }
        return std::nullopt;
    }

    void inputReportSent(std::size_t) override {
        {
            std::lock_guard lock(mutex_);
            sending_ = false;
        }
        wake();
    }

private:
    // The time every transfer takes on the wire (the delayMs fault). The description never changes.
    void delay() {
        const auto ms = board_.description().faults.delayMilliseconds;
        if (ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }

    std::mutex mutex_; // held for every use of board_ and of the members below
    std::condition_variable changed_;
    EmulatedBoard board_;
    std::uint64_t epoch_ = 0;
    std::vector<InterfaceRole> roles_; // by interface number
    bool sending_ = false;             // an input report is on its way to the host
};

struct Options {
    std::string boards;
    std::size_t index = 0;
    std::string image;
    std::string gadgetfs = "/dev/gadget";
};

std::optional<Options> options(int argc, char** argv) {
    Options out;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool valued = i + 1 < argc;
        if (argument == "--board" && valued) {
            const std::string value = argv[++i];
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out.index);
            if (ec != std::errc() || end != value.data() + value.size()) {
                return std::nullopt;
            }
        } else if (argument == "--image" && valued) {
            out.image = argv[++i];
        } else if (argument == "--gadgetfs" && valued) {
            out.gadgetfs = argv[++i];
        } else if (out.boards.empty() && !argument.starts_with("--")) {
            out.boards = argument;
        } else {
            return std::nullopt;
        }
    }
    if (out.boards.empty()) {
        return std::nullopt;
    }
    return out;
}

void saveImage(const Options& options, BoardOnTheBus& board) {
    if (!options.image.empty()) {
        Files::writeAtomically(options.image, board.image());
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto chosen = options(argc, argv);
    if (!chosen) {
        std::fprintf(stderr, "usage: quelmar-gadget BOARDS.json [--board N] [--image FILE] [--gadgetfs DIR]\n");
        return 2;
    }
    try {
        const auto text = Files::readUpTo(chosen->boards, 1024 * 1024).value_or(Bytes{});
        auto boards = BoardDescription::parse(std::string(text.begin(), text.end()),
                                              std::filesystem::path(chosen->boards).parent_path());
        BoardOnTheBus board(std::move(boards.at(chosen->index)));

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
        wakeWrite = fds[1];
        struct sigaction action {};
        action.sa_handler = onTerminate;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);

        // A board has a processor of its own: it takes a request as soon as it arrives. So does the gadget, on the
        // guest's one CPU, before the host's next request. Otherwise gadgetfs, which completes a SET_REPORT's data
        // stage on its own, drops that data when the next request comes before the program has read it.
        sched_param priority{};
        priority.sched_priority = 10;
        if (sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
            gadgetLog("no real-time priority: requests that follow a SET_REPORT at once may find it lost");
        }

        while (board.waitUntilBack()) {
            {
                UsbGadget gadget(chosen->gadgetfs, board.layout(), board);
                gadget.serve(fds[0], [&] { return terminated || board.ended(); });
            }
            saveImage(*chosen, board);
        }
        saveImage(*chosen, board);
        gadgetLog(terminated ? "ended" : "left the bus for good");
    } catch (const std::exception& e) {
        gadgetLog(std::string("failed: ") + e.what());
        return 1;
    }
    return 0;
}
