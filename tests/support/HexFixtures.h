#pragma once

#include "HexText.h"
#include "TemporaryDirectory.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Files for firmware tests: temporary directories, binaries, and the Debian tools that write Intel HEX.
namespace quelmar::test {

void writeFile(const std::filesystem::path& path, const std::string& contents);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& contents);
std::string readFile(const std::filesystem::path& path);

// The Debian tools; each throws std::runtime_error with the tool's output when it fails.
// objcopy -I binary -O ihex with every address moved by address (CR LF lines, a start address record).
void objcopyHex(const std::filesystem::path& binary, std::uint32_t address, const std::filesystem::path& hex);
// srec_cat with each binary placed at its address, records of blockSize bytes (0: the tool's default).
void srecCatHex(const std::vector<std::pair<std::filesystem::path, std::uint32_t>>& binaries,
                const std::filesystem::path& hex, std::size_t blockSize = 0);
// Python's zlib.crc32 of a file.
std::uint32_t zlibCRC32(const std::filesystem::path& file);

} // namespace quelmar::test
