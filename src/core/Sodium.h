#pragma once

namespace quelmar {

// Initialises libsodium once per process; safe from any thread.
void requireSodium();

} // namespace quelmar
