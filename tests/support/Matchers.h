#pragma once

#include "core/UPSError.h"

#include <string>
#include <utility>

#include <gmock/gmock.h>

namespace quelmar {

// Matches a callable that throws UPSError with exactly this message. Compares message(), not what(), so a
// message holding a NUL byte is compared whole.
inline auto ThrowsUPSError(std::string message) {
    return testing::Throws<UPSError>(testing::Property(&UPSError::message, testing::Eq(std::move(message))));
}

// For futures and other results whose error is a UPSError: the same, given a message matcher.
template <typename Matcher>
auto ThrowsUPSErrorThat(Matcher matcher) {
    return testing::Throws<UPSError>(testing::Property(&UPSError::message, std::move(matcher)));
}

} // namespace quelmar
