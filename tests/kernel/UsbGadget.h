#pragma once

#include "core/Bytes.h"
#include "core/Report.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quelmar::test {

// One HID interface of the gadget: its report descriptor and whether it has an interrupt OUT endpoint besides the
// interrupt IN endpoint every HID interface has.
struct GadgetInterface {
    Bytes reportDescriptor;
    bool outEndpoint = false;
};

// What the gadget enumerates with.
struct GadgetLayout {
    std::uint16_t vendorID = 0;
    std::uint16_t productID = 0;
    std::string product;
    std::string serial; // empty: none
    std::vector<GadgetInterface> interfaces;
    std::uint8_t interval = 1; // interrupt endpoint polling interval, in frames (ms at full speed)
};

// What the gadget asks of the device behind it. Called from the gadget's threads, several at a time.
class GadgetDevice {
public:
    virtual ~GadgetDevice() = default;
    // A GET_REPORT: the reply, at most length bytes; absent: the request is stalled.
    virtual std::optional<Bytes> getReport(std::size_t interface, ReportType type, std::uint8_t id,
                                           std::size_t length) = 0;
    // A SET_REPORT's data, or an output report from the interrupt OUT endpoint. A SET_REPORT with data cannot be
    // stalled through gadgetfs: the host has seen it succeed before this is called.
    virtual void setReport(std::size_t interface, ReportType type, ByteView report) = 0;
    // The next input report for the interface's IN endpoint, waiting at most until then.
    virtual std::optional<Bytes> nextInputReport(std::size_t interface, std::chrono::steady_clock::time_point then) = 0;
    // The host has taken the last report nextInputReport gave for the interface.
    virtual void inputReportSent(std::size_t interface) = 0;
};

// A USB device on gadgetfs (with dummy_hcd, the same kernel's host side sees it on its bus) for as long as this object
// lives: constructing registers it, destroying it unregisters it, and the device leaves the bus.
class UsbGadget {
public:
    // Registers with the first UDC in the mounted gadgetfs. Throws std::system_error.
    UsbGadget(const std::filesystem::path& gadgetfs, GadgetLayout layout, GadgetDevice& device);
    ~UsbGadget();
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;

    // Answers the host's control requests until done() holds; done() is asked after each request and whenever
    // wakeFd becomes readable (whose bytes are then consumed).
    void serve(int wakeFd, const std::function<bool()>& done);

private:
    struct Endpoint {
        const char* name; // dummy_hcd's endpoint file
        std::uint8_t address;
        std::size_t interface;
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    Bytes configuration() const;
    void handleSetup(const void* request);
    void enableEndpoints();
    void pumpIn(Endpoint& endpoint);
    void pumpOut(Endpoint& endpoint);
    void reply(ByteView data, std::size_t wLength);
    void acknowledge();
    void stall(bool in);

    GadgetLayout layout_;
    GadgetDevice& device_;
    std::filesystem::path gadgetfs_;
    int ep0_ = -1;
    std::list<Endpoint> endpoints_; // its threads hold references to their element
    bool enabled_ = false;
    std::atomic<bool> stopping_{false};
};

// Lines on standard error with the seconds since boot, so that they line up with the kernel's log.
void gadgetLog(const std::string& text);

} // namespace quelmar::test
