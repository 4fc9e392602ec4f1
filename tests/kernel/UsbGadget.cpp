#include "UsbGadget.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <linux/hid.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

namespace quelmar::test {

namespace {

// dummy_hcd's endpoints, in the order the gadget takes them; the number in the name is the endpoint's address.
struct EndpointName {
    const char* name;
    std::uint8_t address;
};
constexpr EndpointName inEndpoints[] = {{"ep1in-bulk", 0x81}, {"ep6in-bulk", 0x86}, {"ep11in-bulk", 0x8B}};
constexpr EndpointName outEndpoints[] = {{"ep2out-bulk", 0x02}, {"ep7out-bulk", 0x07}, {"ep12out-bulk", 0x0C}};
constexpr std::size_t packetSize = 64;

enum : std::uint8_t { stringLanguages = 0, stringProduct = 1, stringSerial = 2 };

void put16(Bytes& out, std::size_t at, std::size_t value) {
    putLittleEndian(out, at, 2, value);
}

Bytes endpointDescriptor(std::uint8_t address, std::uint8_t interval) {
    return {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_INT, packetSize, 0, interval};
}

// The string as a USB string descriptor (UTF-16LE; the texts here are ASCII).
Bytes stringDescriptor(const std::string& text) {
    Bytes out{static_cast<std::uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

void gadgetLog(const std::string& text) {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    std::fprintf(stderr, "[gadget %5ld.%03ld] %s\n", static_cast<long>(now.tv_sec), now.tv_nsec / 1000000,
                 text.c_str());
}

extern "C" void interrupted(int) {}

UsbGadget::UsbGadget(const std::filesystem::path& gadgetfs, GadgetLayout layout, GadgetDevice& device)
    : layout_(std::move(layout))
    , device_(device)
    , gadgetfs_(gadgetfs) {
    if (layout_.interfaces.empty() || layout_.interfaces.size() > std::size(inEndpoints)) {
        throw std::invalid_argument("a gadget has one to three interfaces");
    }
    std::size_t outs = 0;
    for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
        endpoints_.emplace_back(inEndpoints[i].name, inEndpoints[i].address, i);
        if (layout_.interfaces[i].outEndpoint) {
            endpoints_.emplace_back(outEndpoints[outs].name, outEndpoints[outs].address, i);
            ++outs;
        }
    }

    struct sigaction action {};
    action.sa_handler = interrupted; // without SA_RESTART: a blocked transfer returns EINTR
    sigaction(SIGUSR1, &action, nullptr);

    std::filesystem::path udc;
    for (const auto& entry : std::filesystem::directory_iterator(gadgetfs)) {
        if (entry.path().filename().string().starts_with("dummy_udc")) {
            udc = entry.path();
        }
    }
    if (udc.empty()) {
        errno = ENODEV;
        fail("no dummy_udc in " + gadgetfs.string());
    }
    ep0_ = ::open(udc.c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) {
        fail("open " + udc.string());
    }

    // Tag 0, the full-speed configuration, the device descriptor.
    Bytes message(4, 0);
    const Bytes config = configuration();
    message.insert(message.end(), config.begin(), config.end());
    const auto serial = static_cast<std::uint8_t>(layout_.serial.empty() ? 0 : stringSerial);
    // clang-format off
    Bytes deviceDescriptor = {
        USB_DT_DEVICE_SIZE, USB_DT_DEVICE,
        0x10, 0x01,    // USB 1.1
        0, 0, 0,       // class, subclass and protocol: the interfaces'
        packetSize,    // ep0
        0, 0,          // vendor ID, below
        0, 0,          // product ID, below
        0x00, 0x01,    // release 1.00
        0,             // no manufacturer string
        stringProduct,
        serial,
        1,             // configurations
    };
    // clang-format on
    put16(deviceDescriptor, 8, layout_.vendorID);
    put16(deviceDescriptor, 10, layout_.productID);
    message.insert(message.end(), deviceDescriptor.begin(), deviceDescriptor.end());
    if (::write(ep0_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) {
        const int error = errno;
        ::close(ep0_);
        errno = error;
        fail("gadgetfs refused the descriptors");
    }
    char text[96];
    std::snprintf(text, sizeof text, "registered %04x:%04x with %zu interfaces", layout_.vendorID, layout_.productID,
                  layout_.interfaces.size());
    gadgetLog(text);
}

UsbGadget::~UsbGadget() {
    gadgetLog("unregistering");
    stopping_ = true;
    // gadgetfs unregisters (closing ep0) only once no transfer waits on an endpoint: a thread blocked in one holds the
    // endpoint's lock that unregistering takes. A signal interrupts the wait; repeated, in case it came too early.
    for (auto& endpoint : endpoints_) {
        if (!endpoint.thread.joinable()) {
            continue;
        }
        while (!endpoint.finished) {
            pthread_kill(endpoint.thread.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        endpoint.thread.join();
    }
    for (auto& endpoint : endpoints_) {
        if (endpoint.fd >= 0) {
            ::close(endpoint.fd);
        }
    }
    ::close(ep0_); // the device leaves the bus
    gadgetLog("unregistered");
}

Bytes UsbGadget::configuration() const {
    // clang-format off
    Bytes out = {
        USB_DT_CONFIG_SIZE, USB_DT_CONFIG,
        0, 0,                                                  // total length, below
        static_cast<std::uint8_t>(layout_.interfaces.size()),
        1,                                                     // configuration value
        0,                                                     // no string
        USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER,
        1,                                                     // 2 mA
    };
    // clang-format on
    for (std::size_t i = 0; i < layout_.interfaces.size(); ++i) {
        const auto& interface = layout_.interfaces[i];
        const auto count =
            std::count_if(endpoints_.begin(), endpoints_.end(), [&](const Endpoint& e) { return e.interface == i; });
        // clang-format off
        const Bytes descriptor = {
            USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE,
            static_cast<std::uint8_t>(i),
            0,                                // alternate setting
            static_cast<std::uint8_t>(count), // endpoints
            USB_CLASS_HID, 0, 0,              // no boot protocol
            0,                                // no string
        };
        // clang-format on
        out.insert(out.end(), descriptor.begin(), descriptor.end());
        Bytes hid{9, HID_DT_HID, 0x11, 0x01, 0, 1, HID_DT_REPORT, 0, 0};
        put16(hid, 7, interface.reportDescriptor.size());
        out.insert(out.end(), hid.begin(), hid.end());
        for (const auto& endpoint : endpoints_) {
            if (endpoint.interface == i) {
                const auto e = endpointDescriptor(endpoint.address, layout_.interval);
                out.insert(out.end(), e.begin(), e.end());
            }
        }
    }
    put16(out, 2, out.size());
    return out;
}

void UsbGadget::serve(int wakeFd, const std::function<bool()>& done) {
    while (!done()) {
        pollfd fds[2] = {{ep0_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, 1000) < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("poll");
        }
        if (fds[1].revents & POLLIN) {
            char drained[64];
            [[maybe_unused]] const auto n = ::read(wakeFd, drained, sizeof drained);
        }
        if (!(fds[0].revents & POLLIN)) {
            continue;
        }
        usb_gadgetfs_event events[5];
        const auto n = ::read(ep0_, events, sizeof events);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            fail("read ep0");
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
            switch (events[i].type) {
            case GADGETFS_CONNECT:
                gadgetLog("connected");
                break;
            case GADGETFS_DISCONNECT:
                gadgetLog("disconnected");
                break;
            case GADGETFS_SETUP:
                handleSetup(&events[i].u.setup);
                break;
            default:
                break;
            }
        }
    }
}

void UsbGadget::handleSetup(const void* request) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(request);
    const unsigned value = le16toh(setup.wValue);
    const unsigned index = le16toh(setup.wIndex);
    const std::size_t length = le16toh(setup.wLength);
    const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
    const unsigned kind = setup.bRequestType & USB_TYPE_MASK;
    const unsigned recipient = setup.bRequestType & USB_RECIP_MASK;
    const std::size_t interface = index & 0xFF;

    if (kind == USB_TYPE_STANDARD) {
        switch (setup.bRequest) {
        case USB_REQ_GET_DESCRIPTOR: {
            const unsigned type = value >> 8;
            if (type == USB_DT_STRING) {
                switch (value & 0xFF) {
                case stringLanguages:
                    return reply(Bytes{4, USB_DT_STRING, 0x09, 0x04}, length); // English (US)
                case stringProduct:
                    return reply(stringDescriptor(layout_.product), length);
                case stringSerial:
                    return reply(stringDescriptor(layout_.serial), length);
                default:
                    break;
                }
            }
            if (type == HID_DT_REPORT && recipient == USB_RECIP_INTERFACE && interface < layout_.interfaces.size()) {
                return reply(layout_.interfaces[interface].reportDescriptor, length);
            }
            break;
        }
        case USB_REQ_SET_CONFIGURATION:
            if (value == 1) {
                enableEndpoints();
            }
            return acknowledge();
        case USB_REQ_SET_INTERFACE:
            return acknowledge();
        case USB_REQ_GET_INTERFACE:
            return reply(Bytes{0}, length);
        default:
            break;
        }
    } else if (kind == USB_TYPE_CLASS && recipient == USB_RECIP_INTERFACE && interface < layout_.interfaces.size()) {
        // HID report types are numbered from 1 on the wire: input 1, output 2, feature 3.
        const unsigned wireType = value >> 8;
        const auto id = static_cast<std::uint8_t>(value & 0xFF);
        const bool known = wireType >= 1 && wireType <= 3;
        const auto type = static_cast<ReportType>(wireType - 1);
        switch (setup.bRequest) {
        case HID_REQ_GET_REPORT:
            if (known) {
                if (const auto report = device_.getReport(interface, type, id, length)) {
                    return reply(*report, length);
                }
            }
            return stall(in);
        case HID_REQ_SET_REPORT: {
            Bytes data(length, 0);
            const auto n = ::read(ep0_, data.data(), data.size());
            if (n < 0) {
                gadgetLog(std::string("SET_REPORT data: ") + std::strerror(errno));
                return;
            }
            data.resize(static_cast<std::size_t>(n));
            if (known) {
                device_.setReport(interface, type, data);
            }
            return;
        }
        case HID_REQ_SET_IDLE:
        case HID_REQ_SET_PROTOCOL:
            return acknowledge();
        case HID_REQ_GET_IDLE:
            return reply(Bytes{0}, length);
        case HID_REQ_GET_PROTOCOL:
            return reply(Bytes{1}, length);
        default:
            break;
        }
    }
    char text[96];
    std::snprintf(text, sizeof text, "stalled request %02x %02x value %04x index %04x length %zu", setup.bRequestType,
                  setup.bRequest, value, index, length);
    gadgetLog(text);
    stall(in);
}

void UsbGadget::enableEndpoints() {
    if (enabled_) {
        return;
    }
    enabled_ = true;
    for (auto& endpoint : endpoints_) {
        const auto path = gadgetfs_ / endpoint.name;
        endpoint.fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (endpoint.fd < 0) {
            gadgetLog("open " + path.string() + ": " + std::strerror(errno));
            continue;
        }
        Bytes config{1, 0, 0, 0}; // tag 1, then the full-speed descriptor
        const auto descriptor = endpointDescriptor(endpoint.address, layout_.interval);
        config.insert(config.end(), descriptor.begin(), descriptor.end());
        if (::write(endpoint.fd, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
            gadgetLog("configure " + path.string() + ": " + std::strerror(errno));
            continue;
        }
        endpoint.thread = std::thread([this, &endpoint] {
            (endpoint.address & USB_DIR_IN) ? pumpIn(endpoint) : pumpOut(endpoint);
            endpoint.finished = true;
        });
    }
}

void UsbGadget::pumpIn(Endpoint& endpoint) {
    while (!stopping_) {
        const auto report = device_.nextInputReport(endpoint.interface,
                                                    std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
        if (!report || stopping_) {
            continue;
        }
        // Blocks until the host polls the endpoint, which it does while the interface's hidraw node is open.
        if (::write(endpoint.fd, report->data(), report->size()) < 0) {
            if (errno == EINTR && !stopping_) {
                continue;
            }
            if (!stopping_) {
                gadgetLog(std::string("input report: ") + std::strerror(errno));
            }
            return;
        }
        device_.inputReportSent(endpoint.interface);
    }
}

void UsbGadget::pumpOut(Endpoint& endpoint) {
    std::uint8_t buffer[packetSize];
    while (!stopping_) {
        const auto n = ::read(endpoint.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR && !stopping_) {
                continue;
            }
            if (!stopping_) {
                gadgetLog(std::string("output report: ") + std::strerror(errno));
            }
            return;
        }
        device_.setReport(endpoint.interface, ReportType::output, ByteView(buffer, static_cast<std::size_t>(n)));
    }
}

void UsbGadget::reply(ByteView data, std::size_t wLength) {
    const auto n = std::min(data.size(), wLength);
    if (::write(ep0_, data.data(), n) != static_cast<ssize_t>(n)) {
        gadgetLog(std::string("reply: ") + std::strerror(errno));
    }
}

void UsbGadget::acknowledge() {
    [[maybe_unused]] const auto n = ::read(ep0_, nullptr, 0);
}

// gadgetfs stalls a request when the data stage goes the wrong way.
void UsbGadget::stall(bool in) {
    [[maybe_unused]] const auto n = in ? ::read(ep0_, nullptr, 0) : ::write(ep0_, nullptr, 0);
}

} // namespace quelmar::test
