#include "device/HidapiPlatform.h"
#include "device/SysfsLocation.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
namespace fs = std::filesystem;

struct Encoding {
    std::uint32_t bus;
    std::vector<std::uint32_t> ports;
    std::uint32_t location;
};

class SysfsEncoding : public testing::TestWithParam<Encoding> {};

TEST_P(SysfsEncoding, BusInTheTopByteAndOnePortPerNibble) {
    EXPECT_EQ(SysfsLocation::encode(GetParam().bus, GetParam().ports), GetParam().location);
}

INSTANTIATE_TEST_SUITE_P(Cases, SysfsEncoding,
                         testing::Values(
                             // encodable chains
                             Encoding{1, {1}, 0x01100000}, Encoding{0x14, {2, 1}, 0x14210000},
                             Encoding{3, {}, 0x03000000}, Encoding{255, {15, 1, 2, 3, 4, 5}, 0xFFF12345},
                             // not encodable without ambiguity
                             Encoding{0, {1}, 0}, Encoding{256, {1}, 0}, Encoding{1, {16}, 0}, Encoding{1, {0}, 0},
                             Encoding{1, {1, 1, 1, 1, 1, 1, 1}, 0}));

class SysfsTree : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quelmar-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text << '\n'; }

    // A hidraw node below a HID device below a USB interface, as the kernel lays it out.
    void node(const std::string& name, const fs::path& usbDevice, const std::string& interface) {
        const auto hid = usbDevice / interface / ("0003:051D:0002." + name);
        fs::create_directories(hid / "hidraw" / name);
        fs::create_directory_symlink(hid, hid / "hidraw" / name / "device");
        fs::create_directories(root / "class" / "hidraw");
        fs::create_directory_symlink(hid / "hidraw" / name, root / "class" / "hidraw" / name);
    }

    fs::path root;
};

TEST_F(SysfsTree, InterfacesOfOneBoardShareItsLocation) {
    const auto usb = root / "devices" / "pci0000:00" / "0000:00:14.0" / "usb2" / "2-1" / "2-1.4";
    fs::create_directories(usb);
    write(root / "devices" / "pci0000:00" / "0000:00:14.0" / "usb2" / "busnum", "2");
    write(root / "devices" / "pci0000:00" / "0000:00:14.0" / "usb2" / "devpath", "0");
    write(usb / "busnum", "2");
    write(usb / "devpath", "1.4");
    node("hidraw3", usb, "2-1.4:1.0");
    node("hidraw4", usb, "2-1.4:1.1");
    EXPECT_EQ(SysfsLocation::forNode("/dev/hidraw3", root), 0x02140000u);
    EXPECT_EQ(SysfsLocation::forNode("/dev/hidraw4", root), 0x02140000u);
}

TEST_F(SysfsTree, NodeWithoutAUSBDeviceHasNoLocation) {
    const auto virtualDevice = root / "devices" / "virtual" / "misc" / "uhid";
    fs::create_directories(virtualDevice);
    node("hidraw0", virtualDevice, "input0");
    EXPECT_EQ(SysfsLocation::forNode("/dev/hidraw0", root), 0u);
    EXPECT_EQ(SysfsLocation::forNode("/dev/hidraw9", root), 0u);
    EXPECT_EQ(SysfsLocation::forNode("", root), 0u);
}

TEST_F(SysfsTree, MalformedDevpathHasNoLocation) {
    const auto usb = root / "devices" / "usb1" / "1-1";
    fs::create_directories(usb);
    write(usb / "busnum", "1");
    write(usb / "devpath", "1..2");
    node("hidraw1", usb, "1-1:1.0");
    EXPECT_EQ(SysfsLocation::forNode("/dev/hidraw1", root), 0u);
}

TEST(Hidapi, ListsOnlyTheAskedVendorAndFailsToOpenAMissingNode) {
    HidapiPlatform platform;
    for (const auto& interface : platform.enumerate(0x051D)) {
        EXPECT_EQ(interface.vendorID, 0x051D);
    }
    HIDInterface missing;
    missing.path = "/dev/quelmar-no-such-hidraw";
    const auto result = platform.open(missing);
    EXPECT_EQ(result.device, nullptr);
    EXPECT_EQ(result.status, ENOENT);
}

// ---- Whether the kernel has finished adding a board's interfaces

struct Binding {
    std::string name;
    std::string interfaceCount;                                  // bNumInterfaces as sysfs writes it
    std::vector<std::pair<std::string, std::string>> interfaces; // interface name and class
    std::vector<std::string> bound;                              // interfaces that have their hidraw node
    std::optional<std::vector<std::string>> nodes;               // the board's nodes, absent while it is not whole
};

class SysfsBinding : public SysfsTree, public testing::WithParamInterface<Binding> {};

TEST_P(SysfsBinding, ABoardIsWholeOnceEveryHIDInterfaceHasItsNode) {
    const auto usb = root / "devices" / "platform" / "dummy_hcd.0" / "usb1" / "1-1";
    fs::create_directories(usb);
    write(usb / "busnum", "1");
    write(usb / "devpath", "1");
    write(usb / "bNumInterfaces", GetParam().interfaceCount);
    for (const auto& [interface, interfaceClass] : GetParam().interfaces) {
        fs::create_directories(usb / interface);
        write(usb / interface / "bInterfaceClass", interfaceClass);
    }
    int n = 0;
    for (const auto& interface : GetParam().bound) {
        node("hidraw" + std::to_string(n++), usb, interface);
    }
    EXPECT_EQ(SysfsLocation::boardNodes("/dev/hidraw0", root), GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SysfsBinding,
    testing::Values(Binding{"BothBound",
                            " 2",
                            {{"1-1:1.0", "03"}, {"1-1:1.1", "03"}},
                            {"1-1:1.0", "1-1:1.1"},
                            std::vector<std::string>{"hidraw0", "hidraw1"}},
                    Binding{"SecondNotYetAdded", " 2", {{"1-1:1.0", "03"}}, {"1-1:1.0"}, std::nullopt},
                    Binding{
                        "SecondNotYetBound", " 2", {{"1-1:1.0", "03"}, {"1-1:1.1", "03"}}, {"1-1:1.0"}, std::nullopt},
                    Binding{"FirstAlreadyRemoved", " 2", {{"1-1:1.1", "03"}}, {"1-1:1.1"}, std::nullopt},
                    Binding{"OtherClassesNeedNoNode",
                            " 2",
                            {{"1-1:1.0", "03"}, {"1-1:1.1", "ff"}},
                            {"1-1:1.0"},
                            std::vector<std::string>{"hidraw0"}},
                    Binding{"Bootloader", " 1", {{"1-1:1.0", "03"}}, {"1-1:1.0"}, std::vector<std::string>{"hidraw0"}}),
    [](const auto& test) { return test.param.name; });

TEST_F(SysfsTree, ANodeWithoutAUSBDeviceIsABoardOfItsOwnAndAGoneNodeNone) {
    const auto virtualDevice = root / "devices" / "virtual" / "misc" / "uhid";
    fs::create_directories(virtualDevice);
    node("hidraw0", virtualDevice, "input0");
    EXPECT_EQ(SysfsLocation::boardNodes("/dev/hidraw0", root), std::vector<std::string>{"hidraw0"});
    EXPECT_EQ(SysfsLocation::boardNodes("/dev/hidraw9", root), std::nullopt);
}
