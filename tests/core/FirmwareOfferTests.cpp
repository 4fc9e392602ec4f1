#include "SignedFeeds.h"
#include "core/FirmwareOffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using nlohmann::json;

namespace {

UpdateFeed feedWith(const std::vector<json>& packages) {
    return feedOf(packages).get<UpdateFeed>();
}

std::optional<std::string> offered(const std::vector<json>& packages, std::string_view software = "1.0.8",
                                   std::string_view hardware = "1.2") {
    const auto offer = SignedUpdates::newerFirmware(feedWith(packages), "Quelmar DC UPS", hardware, software);
    if (!offer) {
        return std::nullopt;
    }
    return offer->version + " " + offer->url;
}

json firmware(const std::string& version, const std::string& url) {
    auto package = firmwarePackage(version);
    package["url"] = url;
    return package;
}

} // namespace

TEST(FirmwareOffer, TakesTheNewestMatchingPackageAndTheFirstAmongEquals) {
    EXPECT_EQ(offered({firmware("1.2.0", "first"), firmware("1.2.0", "second")}, "1.1.0"), "1.2.0 first");
    EXPECT_EQ(offered({firmware("1.2.0", "first")}, "1.2.0"), std::nullopt);
    EXPECT_EQ(offered({firmware("1.0.9", "a"), firmware("1.0.10", "b"), firmware("1.0.8", "c")}), "1.0.10 b");
    EXPECT_EQ(offered({firmware("1.0.9", "a"), firmware("bad", "b")}), "1.0.9 a");
}

TEST(FirmwareOffer, OffersNothingThatDoesNotFitTheBoard) {
    auto otherModel = firmwarePackage();
    otherModel["model"] = "Quelmar DC UPS Pro";
    auto noModel = firmwarePackage();
    noModel.erase("model");
    auto noHardware = firmwarePackage();
    noHardware.erase("hardware");
    auto client = clientPackage("9.0.0");
    for (const auto& package : {otherModel, noModel, noHardware, client}) {
        EXPECT_EQ(offered({package}), std::nullopt) << package.dump();
    }
    EXPECT_EQ(offered({firmwarePackage()}, "1.0.8", "2.0"), std::nullopt);
    EXPECT_EQ(offered({firmwarePackage()}, "1.0.x"), std::nullopt);
}
