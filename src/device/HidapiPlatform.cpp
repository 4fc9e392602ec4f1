#include "device/HidapiPlatform.h"

#include "device/SysfsLocation.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <thread>

#include <hidapi/hidapi.h>

namespace quelmar {

namespace {

// hidapi reports a failure as -1; the errno of the system call beneath it says more when there is one.
HIDStatus failureStatus(int result, int savedErrno) {
    return savedErrno != 0 ? savedErrno : result;
}

// One hidapi transfer, which answers a byte count or -1.
template <typename Call>
HIDResult transfer(Call call) {
    errno = 0;
    const int result = call();
    if (result < 0) {
        return {failureStatus(result, errno), 0};
    }
    return {0, static_cast<std::size_t>(result)};
}

std::optional<std::string> utf8(const wchar_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string out;
    for (; *text != L'\0'; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

constexpr int settleAttempts = 20;
constexpr auto settlePause = std::chrono::milliseconds(10);

// Whether the list holds every board whole: all hidraw nodes of each board's USB device, which the kernel has
// finished adding (or removing).
bool allSettled(const hid_device_info* list) {
    std::set<std::string> listed;
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        if (info->path != nullptr) {
            listed.insert(std::filesystem::path(info->path).filename().string());
        }
    }
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        const auto nodes = info->path != nullptr ? SysfsLocation::boardNodes(info->path) : std::nullopt;
        if (!nodes || !std::all_of(nodes->begin(), nodes->end(), [&](const auto& n) { return listed.contains(n); })) {
            return false;
        }
    }
    return true;
}

class HidapiDevice final : public HIDDevice {
public:
    explicit HidapiDevice(hid_device* handle)
        : handle_(handle) {}
    ~HidapiDevice() override { hid_close(handle_); }

    HIDResult getReport(ReportType type, std::uint8_t reportID, std::span<std::uint8_t> buffer) override {
        if (buffer.empty()) {
            return {EINVAL, 0};
        }
        buffer[0] = reportID;
        switch (type) {
        case ReportType::feature:
            return transfer([&] { return hid_get_feature_report(handle_, buffer.data(), buffer.size()); });
        case ReportType::input:
            return transfer([&] { return hid_get_input_report(handle_, buffer.data(), buffer.size()); });
        case ReportType::output:
            break; // hidraw offers no way to read an output report back
        }
        return {EINVAL, 0};
    }

    HIDStatus setReport(ReportType type, ByteView report) override {
        if (report.empty()) {
            return EINVAL;
        }
        HIDResult sent;
        switch (type) {
        case ReportType::feature:
            sent = transfer([&] { return hid_send_feature_report(handle_, report.data(), report.size()); });
            break;
        case ReportType::output:
            sent = transfer([&] { return hid_write(handle_, report.data(), report.size()); });
            break;
        case ReportType::input:
            return EINVAL;
        }
        if (sent.status != 0) {
            return sent.status;
        }
        return sent.length == report.size() ? 0 : EIO;
    }

    HIDResult readInputReport(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        if (buffer.empty()) {
            return {EINVAL, 0};
        }
        const auto ms = timeout.count() < 0 ? 0 : (timeout.count() > INT_MAX ? INT_MAX : timeout.count());
        return transfer([&] { return hid_read_timeout(handle_, buffer.data(), buffer.size(), static_cast<int>(ms)); });
    }

private:
    hid_device* handle_;
};

} // namespace

HidapiPlatform::HidapiPlatform() {
    if (hid_init() != 0) {
        // Enumerating initializes again, so a passing failure clears itself there.
        problem_ = utf8(hid_error(nullptr)).value_or("hid_init failed");
    }
}

HidapiPlatform::~HidapiPlatform() {
    hid_exit();
}

std::vector<HIDInterface> HidapiPlatform::enumerate(std::uint16_t vendorID) {
    std::vector<HIDInterface> out;
    hid_device_info* list = hid_enumerate(vendorID, 0);
    // The kernel adds a board's interfaces one after the other (and removes them so): listed in between, a board in
    // APP mode would show one of its two interfaces, and discovery would make that one its vendor interface. So look
    // again until every board is whole, for a short while: an interface that never binds must not hide the board.
    for (int attempt = 1; attempt < settleAttempts && !allSettled(list); ++attempt) {
        hid_free_enumeration(list);
        std::this_thread::sleep_for(settlePause);
        list = hid_enumerate(vendorID, 0);
    }
    {
        std::lock_guard lock(mutex_);
        problem_ = list != nullptr ? std::nullopt : failureOf(hid_error(nullptr));
    }
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        HIDInterface interface;
        interface.path = info->path != nullptr ? info->path : "";
        interface.vendorID = info->vendor_id;
        interface.productID = info->product_id;
        interface.product = utf8(info->product_string);
        interface.serial = utf8(info->serial_number);
        if (const auto location = SysfsLocation::forNode(interface.path); location != 0) {
            interface.location = location;
        }
        interface.primaryUsagePage = info->usage_page;
        out.push_back(std::move(interface));
    }
    hid_free_enumeration(list);
    return out;
}

std::optional<std::string> HidapiPlatform::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

std::optional<std::string> HidapiPlatform::failureOf(const wchar_t* errorText) {
    if (errorText == nullptr) {
        return std::nullopt;
    }
    const std::wstring_view text(errorText);
    // "No HID devices found in the system." or "... with requested VID/PID ...": nothing went wrong.
    if (text.empty() || text == L"Success" || text.starts_with(L"No HID devices")) {
        return std::nullopt;
    }
    return utf8(errorText);
}

HIDOpenResult HidapiPlatform::open(const HIDInterface& interface) {
    errno = 0;
    hid_device* const handle = hid_open_path(interface.path.c_str());
    if (handle == nullptr) {
        return {nullptr, failureStatus(-1, errno)};
    }
    return {std::make_unique<HidapiDevice>(handle), 0};
}

} // namespace quelmar
