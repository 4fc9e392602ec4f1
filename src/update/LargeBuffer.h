#pragma once

#include "core/Bytes.h"

namespace quelmar {

// Reserves capacity for a large body and asks the kernel to back it with huge pages where it can:
// a 100 MiB package then costs some fifty page faults instead of 25,600, which is a good part of the
// time a loopback download takes.
void reserveLarge(Bytes& buffer, std::size_t capacity);

} // namespace quelmar
