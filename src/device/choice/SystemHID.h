#pragma once

#include "device/HIDPlatform.h"

namespace quelmar {

// The process's HID access: the emulated boards when QUELMAR_SIMULATOR selects them, else hidapi. Chosen on
// first use and kept for the process; throws std::runtime_error when the emulated boards' description cannot
// be read (the next call tries again).
HIDPlatform& systemHID();

} // namespace quelmar
