#include "device/HIDSession.h"

#include "core/Precondition.h"
#include "core/UPSError.h"
#include "device/BootReceiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

namespace quelmar {

namespace {

constexpr auto replySlice = std::chrono::milliseconds(10);

std::string hex8(HIDStatus status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<std::uint32_t>(status));
    return text;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    return text;
}

bool isBoardProduct(const std::string& product) {
    const auto text = lower(product);
    for (const char* word : {"quelmar", "vetrola", "k52"}) {
        if (text.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

const HIDInterface* firstWithPage(const std::vector<HIDInterface>& group, std::int64_t page) {
    for (const auto& interface : group) {
        if (interface.primaryUsagePage == page) {
            return &interface;
        }
    }
    return nullptr;
}

} // namespace

HIDSession::HIDSession(HIDPlatform& platform, std::chrono::milliseconds replyDeadline)
    : platform_(platform)
    , replyDeadline_(replyDeadline) {}

HIDSession::~HIDSession() {
    close();
}

std::vector<USBDevice> HIDSession::discover(HIDPlatform& platform) {
    // Groups keep their interfaces in enumeration order; the map's order is irrelevant, the result is sorted.
    std::map<std::string, std::vector<HIDInterface>> groups;
    for (auto& interface : platform.enumerate(Board::vendorID)) {
        const auto productID = interface.productID.value_or(0);
        if ((productID != Board::appProductID && productID != Board::bootloaderProductID) ||
            !isBoardProduct(interface.product.value_or(""))) {
            continue;
        }
        const auto location = interface.location.value_or(0);
        const auto key =
            location != 0 ? "location:" + std::to_string(location) : "serial:" + interface.serial.value_or("");
        groups[key].push_back(std::move(interface));
    }

    std::vector<USBDevice> devices;
    for (auto& [key, group] : groups) {
        const HIDInterface* power = firstWithPage(group, Board::powerUsagePage);
        const HIDInterface* vendor = firstWithPage(group, Board::vendorUsagePage);
        if (vendor == nullptr) {
            vendor = power;
        }
        if (vendor == nullptr) {
            continue;
        }
        USBDevice device;
        device.id = key;
        device.product = vendor->product.value_or("");
        device.serial = vendor->serial.value_or("");
        device.bootloader = vendor->productID.value_or(0) == Board::bootloaderProductID ||
                            lower(device.product).find("boot") != std::string::npos;
        device.vendor = *vendor;
        if (power != nullptr) {
            device.power = *power;
        }
        devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(), [](const USBDevice& a, const USBDevice& b) { return a.id < b.id; });
    return devices;
}

void HIDSession::connect(const std::string& id) {
    close();
    const auto devices = discover(platform_);
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const USBDevice& d) { return d.id == id; });
    if (found == devices.end()) {
        throw UPSError("设备已断开");
    }

    std::vector<HIDInterface> toOpen{found->vendor};
    // One node may carry both collections: interfaces are the same when their paths are.
    if (found->power && found->power->path != found->vendor.path) {
        toOpen.push_back(*found->power);
    }
    for (const auto& interface : toOpen) {
        auto result = platform_.open(interface);
        if (!result.device) {
            close();
            throw OpenFailure("USB 打开失败：" + hex8(result.status) + "，请关闭占用设备的其他客户端", result.status);
        }
        opened_.emplace_back(interface, std::move(result.device));
    }
    device_ = *found;

    try {
        info_ = DeviceInfo(get(Reports::identity, ReportType::feature, false));
    } catch (const UPSError&) {
        info_.reset();
    }
}

void HIDSession::close() {
    for (auto& entry : opened_) {
        entry.second.reset();
    }
    opened_.clear();
    device_.reset();
    info_.reset();
}

HIDDevice* HIDSession::opened(const HIDInterface& interface) {
    for (auto& [openedInterface, handle] : opened_) {
        if (openedInterface.path == interface.path) {
            return handle.get();
        }
    }
    return nullptr;
}

HIDDevice* HIDSession::vendorDevice() {
    return device_ ? opened(device_->vendor) : nullptr;
}

Bytes HIDSession::get(std::uint8_t id, std::size_t count, ReportType type, bool power) {
    if (!device_) {
        throw UPSError("设备未连接");
    }
    if (power && !device_->power) {
        throw UPSError("缺少 UPS 标准接口");
    }
    HIDDevice* const handle = opened(power ? *device_->power : device_->vendor);
    if (handle == nullptr) {
        throw UPSError("设备未连接");
    }
    QUELMAR_EXPECTS(count >= 1);
    if (count == 0) {
        throw UPSError("USB 报告长度或标识不符");
    }
    Bytes buffer(count, 0);
    buffer[0] = id;
    const auto result = handle->getReport(type, id, buffer);
    if (result.status != 0) {
        throw UPSError("读取 Report " + std::to_string(id) + " 失败：" + hex8(result.status));
    }
    if (result.length < count || buffer[0] != id) {
        throw UPSError("USB 报告长度或标识不符");
    }
    return buffer;
}

void HIDSession::set(ByteView report, ReportType type) {
    HIDDevice* const handle = vendorDevice();
    if (!device_ || report.empty() || handle == nullptr) {
        throw UPSError("设备未连接");
    }
    const auto status = handle->setReport(type, report);
    if (status != 0) {
        throw UPSError("写入 USB Report " + std::to_string(report[0]) + " 失败：" + hex8(status));
    }
}

Snapshot HIDSession::snapshot() {
    if (info_ && info_->supportsFullReport()) {
        return Snapshot::full(get(Reports::telemetry, ReportType::feature, false));
    }
    const auto summary = get(Reports::summary, ReportType::input, true);
    const auto input = get(Reports::input, ReportType::feature, true);
    const auto output = get(Reports::output, ReportType::feature, true);
    const auto battery = get(Reports::battery, ReportType::feature, true);
    return Snapshot::legacy(summary, input, output, battery);
}

void HIDSession::writeConfig(const BatteryConfig& config) {
    if (!device_ || device_->bootloader) {
        throw UPSError("请连接 APP 模式设备");
    }
    set(config.report(), ReportType::feature);
    const BatteryConfig readBack(get(Reports::config, ReportType::feature, false));
    if (readBack != config) {
        throw UPSError("参数写入后读回不一致，请重新读取");
    }
}

void HIDSession::flash(const FirmwareImage& image, const IAP::Progress& progress) {
    HIDDevice* const vendor = vendorDevice();
    if (!device_ || !device_->bootloader || vendor == nullptr) {
        throw UPSError("请先进入 Bootloader 模式");
    }
    {
        BootReceiver receiver(*vendor);

        const auto exchange = [&](std::uint8_t code, ByteView payload, bool replyAwaited) {
            const Bytes packet = IAP::packet(code, payload);
            if (replyAwaited) {
                receiver.drain();
            }
            receiver.await();
            set(packet, ReportType::output);
            if (!replyAwaited) {
                return;
            }
            const auto deadline = std::chrono::steady_clock::now() + replyDeadline_;
            while (!receiver.status()) {
                const auto now = std::chrono::steady_clock::now();
                if (now >= deadline) {
                    throw UPSError("Bootloader 应答超时；已停止烧录，请重新连接后重试");
                }
                receiver.receive(std::min(replySlice, std::chrono::ceil<std::chrono::milliseconds>(deadline - now)));
            }
            if (*receiver.status() != 0) {
                throw UPSError("Bootloader 返回错误：" + std::to_string(*receiver.status()));
            }
        };
        IAP::flash(image, exchange, progress);
    }
    // The board is restarting and will enumerate anew.
    close();
}

} // namespace quelmar
