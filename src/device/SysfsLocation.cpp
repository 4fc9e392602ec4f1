#include "device/SysfsLocation.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <system_error>

namespace quelmar::SysfsLocation {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return line;
}

std::optional<std::uint32_t> number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// devpath is "0" for a root hub, otherwise the port chain "1.4.2".
std::optional<std::vector<std::uint32_t>> ports(std::string_view devpath) {
    std::vector<std::uint32_t> out;
    if (devpath == "0") {
        return out;
    }
    while (true) {
        const auto dot = devpath.find('.');
        const auto port = number(devpath.substr(0, dot));
        if (!port) {
            return std::nullopt;
        }
        out.push_back(*port);
        if (dot == std::string_view::npos) {
            return out;
        }
        devpath.remove_prefix(dot + 1);
    }
}

// The USB device that carries a hidraw node: the class link leads to the HID device, and the USB device is its
// first ancestor with a bus number.
std::optional<fs::path> usbDeviceOf(const std::string& devicePath, const fs::path& sysRoot) {
    const auto node = fs::path(devicePath).filename();
    if (node.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    auto dir = fs::canonical(sysRoot / "class" / "hidraw" / node / "device", ec);
    if (ec) {
        return std::nullopt;
    }
    const auto top = fs::canonical(sysRoot, ec);
    if (ec) {
        return std::nullopt;
    }
    for (; dir != top && dir.has_relative_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "busnum", ec) && fs::exists(dir / "devpath", ec)) {
            return dir;
        }
    }
    return std::nullopt;
}

// The hidraw nodes of the HID devices below a USB interface.
std::vector<std::string> hidrawNodes(const fs::path& interface) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& hid : fs::directory_iterator(interface, ec)) {
        for (const auto& node : fs::directory_iterator(hid.path() / "hidraw", ec)) {
            out.push_back(node.path().filename().string());
        }
    }
    return out;
}

} // namespace

std::uint32_t encode(std::uint32_t bus, const std::vector<std::uint32_t>& portChain) {
    if (bus == 0 || bus > 0xFF || portChain.size() > 6) {
        return 0;
    }
    std::uint32_t value = bus << 24;
    int shift = 20;
    for (const auto port : portChain) {
        if (port == 0 || port > 0xF) {
            return 0;
        }
        value |= port << shift;
        shift -= 4;
    }
    return value;
}

std::uint32_t forNode(const std::string& devicePath, const fs::path& sysRoot) {
    const auto dir = usbDeviceOf(devicePath, sysRoot);
    if (!dir) {
        return 0;
    }
    const auto busText = readLine(*dir / "busnum");
    const auto devpath = readLine(*dir / "devpath");
    const auto bus = busText ? number(*busText) : std::nullopt;
    const auto chain = devpath ? ports(*devpath) : std::nullopt;
    return bus && chain ? encode(*bus, *chain) : 0;
}

std::optional<std::vector<std::string>> boardNodes(const std::string& devicePath, const fs::path& sysRoot) {
    const auto node = fs::path(devicePath).filename();
    std::error_code ec;
    if (node.empty() || !fs::exists(sysRoot / "class" / "hidraw" / node, ec)) {
        return std::nullopt;
    }
    const auto dir = usbDeviceOf(devicePath, sysRoot);
    if (!dir) {
        return std::vector{node.string()};
    }
    auto expected = readLine(*dir / "bNumInterfaces"); // right-aligned: " 2"
    if (expected) {
        expected->erase(0, expected->find_first_not_of(' '));
    }
    const auto count = expected ? number(*expected) : std::nullopt;
    std::uint32_t interfaces = 0;
    std::vector<std::string> nodes;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        const auto interfaceClass = readLine(entry.path() / "bInterfaceClass");
        if (!interfaceClass) {
            continue;
        }
        ++interfaces;
        const auto found = hidrawNodes(entry.path());
        if (*interfaceClass == "03" && found.empty()) {
            return std::nullopt;
        }
        nodes.insert(nodes.end(), found.begin(), found.end());
    }
    if (count && interfaces != *count) {
        return std::nullopt;
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

} // namespace quelmar::SysfsLocation
