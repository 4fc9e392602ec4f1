#pragma once

#include "core/UpdateFeed.h"

#include <optional>
#include <string_view>

namespace quelmar::SignedUpdates {

// The newest firmware package of the feed built for this board that is newer than what it runs: kind "firmware",
// model equal to the board's USB product, hardware listing its revision exactly. The first listed wins among
// equals. A package version, or a software version, that does not parse offers nothing. Never throws.
std::optional<UpdatePackage> newerFirmware(const UpdateFeed& feed, std::string_view product, std::string_view hardware,
                                           std::string_view software);

} // namespace quelmar::SignedUpdates
