#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Every target defines the fuzzer's entry point: libFuzzer's main calls it, and so does Replay.cpp, which runs
// the kept findings in the test suite. A finding is any crash, sanitizer report, escaped exception or broken
// QUELMAR_FUZZ_CHECK.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Unlike assert, active in every build, so that a broken property is a finding under the fuzzer.
#define QUELMAR_FUZZ_CHECK(condition)                                                                                  \
    ((condition)                                                                                                       \
         ? static_cast<void>(0)                                                                                        \
         : (std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

namespace quelmar::fuzz {

inline ByteView bytes(const std::uint8_t* data, std::size_t size) {
    return {data, size};
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A fixed Ed25519 key pair for the targets that sign their input, and for the seeds signed with it.
struct Key {
    std::array<std::uint8_t, 32> publicKey{};
    std::array<std::uint8_t, 64> secretKey{};
    std::string publicKeyHex() const;

    Bytes sign(ByteView message) const;
};
const Key& key();

} // namespace quelmar::fuzz
