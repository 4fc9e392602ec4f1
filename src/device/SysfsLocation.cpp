#include "device/SysfsLocation.h"

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
    const auto node = fs::path(devicePath).filename();
    if (node.empty()) {
        return 0;
    }
    std::error_code ec;
    // The class link leads to the HID device; the USB device is the first ancestor with a bus number.
    auto dir = fs::canonical(sysRoot / "class" / "hidraw" / node / "device", ec);
    if (ec) {
        return 0;
    }
    const auto top = fs::canonical(sysRoot, ec);
    if (ec) {
        return 0;
    }
    for (; dir != top && dir.has_relative_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "busnum", ec) || !fs::exists(dir / "devpath", ec)) {
            continue;
        }
        const auto busText = readLine(dir / "busnum");
        const auto devpath = readLine(dir / "devpath");
        const auto bus = busText ? number(*busText) : std::nullopt;
        const auto chain = devpath ? ports(*devpath) : std::nullopt;
        return bus && chain ? encode(*bus, *chain) : 0;
    }
    return 0;
}

} // namespace quelmar::SysfsLocation
