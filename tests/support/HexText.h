#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Intel HEX text for tests and benchmarks.
namespace quelmar::test {

// One Intel HEX record as a line without its line break; the checksum is computed.
std::string hexRecord(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data);

// A complete file: data at address in records of perLine bytes, 0x04 records where the upper half of the
// address changes, an end-of-file record; lines end with LF.
std::string intelHex(std::uint32_t address, const std::vector<std::uint8_t>& data, std::size_t perLine = 16);

// Deterministic bytes of every value, 0x00 and 0xFF included.
std::vector<std::uint8_t> patternBytes(std::size_t count, std::uint32_t seed = 1);

} // namespace quelmar::test
