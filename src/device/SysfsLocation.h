#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelmar::SysfsLocation {

// The position of the USB device that carries a hidraw node ("/dev/hidraw3"), as one non-zero number:
// the bus in the top byte, then one port per nibble from the root hub down. The same for every interface
// of a board and stable while it stays on its port. 0 when the node has no USB device above it.
std::uint32_t forNode(const std::string& devicePath, const std::filesystem::path& sysRoot = "/sys");

// The hidraw nodes ("hidraw3") of the USB device that carries this node, itself among them, once the kernel has
// finished adding that device's interfaces: all interfaces of its configuration are there and each HID interface
// among them has its node. A board's interfaces appear one after the other, and are removed so: absent in between,
// and when the node itself has gone. A node without a USB device above it is a board of its own.
std::optional<std::vector<std::string>> boardNodes(const std::string& devicePath,
                                                   const std::filesystem::path& sysRoot = "/sys");

// 0 when the chain cannot be encoded without ambiguity (bus above 255, a port above 15, more than six
// ports), so that such a board is told apart by its serial instead of colliding with another.
std::uint32_t encode(std::uint32_t bus, const std::vector<std::uint32_t>& ports);

} // namespace quelmar::SysfsLocation
