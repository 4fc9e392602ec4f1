#include "Boards.h"
#include "device/HIDSession.h"
#include "device/HidapiPlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

std::vector<USBDevice> discover(std::vector<BoardDescription> boards) {
    EmulatedPlatform platform(std::move(boards));
    return HIDSession::discover(platform);
}

std::vector<std::string> ids(const std::vector<USBDevice>& devices) {
    std::vector<std::string> out;
    for (const auto& d : devices) {
        out.push_back(d.id);
    }
    return out;
}

} // namespace

TEST(Discovery, BothInterfacesOfABoardFormOneEntryWithTheirRoles) {
    auto b = board();
    // Enumerated power first: the roles come from the usage pages, not from the order.
    b.interfaces = {interface(InterfaceRole::power), interface(InterfaceRole::vendor)};
    const auto devices = discover({b});
    ASSERT_THAT(devices, SizeIs(1));
    const auto& d = devices[0];
    EXPECT_EQ(d.id, "location:17825792");
    EXPECT_EQ(d.product, "Quelmar DC UPS");
    EXPECT_EQ(d.serial, "QM1");
    EXPECT_FALSE(d.bootloader);
    EXPECT_EQ(d.vendor.primaryUsagePage, 0xFF00);
    ASSERT_TRUE(d.power);
    EXPECT_EQ(d.power->primaryUsagePage, 0x84);
    EXPECT_NE(d.vendor.path, d.power->path);
}

TEST(Discovery, BoardWithOnlyAPowerInterfaceUsesItForBothRoles) {
    auto b = board();
    b.interfaces = {interface(InterfaceRole::power)};
    const auto devices = discover({b});
    ASSERT_THAT(devices, SizeIs(1));
    ASSERT_TRUE(devices[0].power);
    EXPECT_EQ(devices[0].vendor, *devices[0].power);
}

TEST(Discovery, BoardWithOnlyAVendorInterfaceHasNoPowerInterface) {
    auto b = board();
    b.interfaces = {interface(InterfaceRole::vendor)};
    const auto devices = discover({b});
    ASSERT_THAT(devices, SizeIs(1));
    EXPECT_FALSE(devices[0].power);
}

TEST(Discovery, InterfacesWithoutANumericUsagePageNeverQualify) {
    auto missing = board("Quelmar DC UPS", 0x01100000);
    missing.interfaces = {interface(InterfaceRole::vendor, std::optional<std::int64_t>{}),
                          interface(InterfaceRole::power, std::optional<std::int64_t>{})};
    auto otherPage = board("Quelmar DC UPS", 0x01200000);
    otherPage.interfaces = {interface(InterfaceRole::vendor, 0x0C), interface(InterfaceRole::power)};
    const auto devices = discover({missing, otherPage});
    ASSERT_THAT(devices, SizeIs(1));
    EXPECT_EQ(devices[0].id, "location:18874368");
    EXPECT_EQ(devices[0].vendor.primaryUsagePage, 0x84); // no 0xFF00 interface: the power one serves
}

TEST(Discovery, ProductAndSerialComeFromTheVendorInterface) {
    auto b = board("Quelmar DC UPS", 0x01100000, "board serial");
    InterfaceDescription vendor(InterfaceRole::vendor), power(InterfaceRole::power);
    vendor.serial = std::optional<std::string>{};
    power.product = std::optional<std::string>("Quelmar power interface");
    b.interfaces = {power, vendor};
    const auto devices = discover({b});
    ASSERT_THAT(devices, SizeIs(1));
    EXPECT_EQ(devices[0].product, "Quelmar DC UPS");
    EXPECT_EQ(devices[0].serial, ""); // missing on the vendor interface
}

struct Listing {
    std::string product;
    std::int64_t productID;
    bool listed;
    bool bootloader;
};

class DiscoveryFilter : public testing::TestWithParam<Listing> {};

TEST_P(DiscoveryFilter, ProductWordsAndProductIDDecideListingAndMode) {
    auto b = board(GetParam().product);
    b.productID = GetParam().productID;
    const auto devices = discover({b});
    ASSERT_THAT(devices, SizeIs(GetParam().listed ? 1 : 0));
    if (GetParam().listed) {
        EXPECT_EQ(devices[0].bootloader, GetParam().bootloader);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DiscoveryFilter,
                         testing::Values(
                             // one of the three words, any letter case
                             Listing{"Quelmar DC UPS", 2, true, false}, Listing{"VETROLA Mini", 2, true, false},
                             Listing{"UPS k52", 2, true, false}, Listing{"K52-12V", 2, true, false},
                             // none of them, or the wrong product ID
                             Listing{"Generic UPS", 2, false, false}, Listing{"Quelmar DC UPS", 5, false, false},
                             Listing{"Quelmar DC UPS", 1, false, false}, Listing{"Quel mar", 2, false, false},
                             // bootloader by product ID 3 or the word boot
                             Listing{"Quelmar DC UPS", 3, true, true}, Listing{"Quelmar BootLoader", 2, true, true},
                             Listing{"k52 REBOOT", 2, true, true}, Listing{"Bootloader", 3, false, false}));

TEST(Discovery, MissingProductIDOrProductStringIsNotABoard) {
    auto noProductID = board("Quelmar DC UPS", 0x01100000);
    InterfaceDescription vendor(InterfaceRole::vendor);
    vendor.productID = std::optional<std::int64_t>{};
    noProductID.interfaces = {vendor};
    auto noProduct = board("Quelmar DC UPS", 0x01200000);
    InterfaceDescription unnamed(InterfaceRole::vendor);
    unnamed.product = std::optional<std::string>{};
    noProduct.interfaces = {unnamed};
    EXPECT_THAT(discover({noProductID, noProduct}), IsEmpty());
}

TEST(Discovery, OtherVendorsAreNotListed) {
    auto b = board();
    b.vendorID = 0x0483;
    EXPECT_THAT(discover({b}), IsEmpty());
}

TEST(Discovery, BoardsWithoutLocationAreKeyedBySerial) {
    // Two boards with neither location nor serial share one key and merge.
    EXPECT_THAT(ids(discover({board("Quelmar DC UPS", 0, "B7"), board("Quelmar DC UPS", 0, ""),
                              board("Quelmar DC UPS", 0, "")})),
                ElementsAre("serial:", "serial:B7"));
}

TEST(Discovery, IdsSortAsText) {
    const auto devices = discover({board("Quelmar DC UPS", 3, "A"), board("Quelmar DC UPS", 0, "A0"),
                                   board("Quelmar DC UPS", 20, "B"), board("Quelmar DC UPS", 100, "C")});
    EXPECT_THAT(ids(devices), ElementsAre("location:100", "location:20", "location:3", "serial:A0"));
}

TEST(Discovery, NothingAttachedIsAnEmptyList) {
    EXPECT_THAT(discover({}), IsEmpty());
}

// hidapi answers both "nothing found" and a failure with no list; only its error text tells them apart.
TEST(HidapiPlatform, EmptyEnumerationIsAProblemOnlyWhenHidapiSaysItFailed) {
    EXPECT_EQ(HidapiPlatform::failureOf(nullptr), std::nullopt);
    EXPECT_EQ(HidapiPlatform::failureOf(L"Success"), std::nullopt);
    EXPECT_EQ(HidapiPlatform::failureOf(L"No HID devices found in the system."), std::nullopt);
    EXPECT_EQ(HidapiPlatform::failureOf(L"No HID devices with requested VID/PID found in the system."), std::nullopt);
    EXPECT_EQ(HidapiPlatform::failureOf(L"Couldn't create udev context"), "Couldn't create udev context");
}

TEST(HidapiPlatform, NoBoardsOnAWorkingStackIsNoProblem) {
    HidapiPlatform platform;
    platform.enumerate(Board::vendorID);
    EXPECT_EQ(platform.problem(), std::nullopt);
}
