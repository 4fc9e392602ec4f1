#include "core/FirmwareOffer.h"

#include "core/UPSError.h"
#include "core/Version.h"

#include <algorithm>

namespace quelmar::SignedUpdates {

namespace {

std::optional<Version> parsed(std::string_view text) {
    try {
        return Version(text);
    } catch (const UPSError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<UpdatePackage> newerFirmware(const UpdateFeed& feed, std::string_view product, std::string_view hardware,
                                           std::string_view software) {
    const auto current = parsed(software);
    if (!current) {
        return std::nullopt;
    }
    const UpdatePackage* offer = nullptr;
    std::optional<Version> best;
    for (const auto& package : feed.packages) {
        if (package.kind != "firmware" || package.model != product ||
            std::find(package.hardware.begin(), package.hardware.end(), hardware) == package.hardware.end()) {
            continue;
        }
        const auto version = parsed(package.version);
        if (version && *version > *current && (!best || *version > *best)) {
            best = version;
            offer = &package;
        }
    }
    return offer ? std::optional(*offer) : std::nullopt;
}

} // namespace quelmar::SignedUpdates
