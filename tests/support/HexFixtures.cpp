#include "HexFixtures.h"

#include "Process.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quelmar::test {

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& contents) {
    writeFile(path, std::string(contents.begin(), contents.end()));
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void objcopyHex(const std::filesystem::path& binary, std::uint32_t address, const std::filesystem::path& hex) {
    runChecked("/usr/bin/objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", std::to_string(address),
                                    binary.string(), hex.string()});
}

void srecCatHex(const std::vector<std::pair<std::filesystem::path, std::uint32_t>>& binaries,
                const std::filesystem::path& hex, std::size_t blockSize) {
    std::vector<std::string> arguments;
    for (const auto& [binary, address] : binaries) {
        arguments.insert(arguments.end(), {binary.string(), "-binary", "-offset", std::to_string(address)});
    }
    arguments.insert(arguments.end(), {"-o", hex.string(), "-intel"});
    if (blockSize != 0) {
        arguments.push_back("-output_block_size=" + std::to_string(blockSize));
    }
    runChecked("/usr/bin/srec_cat", arguments);
}

std::uint32_t zlibCRC32(const std::filesystem::path& file) {
    const auto result =
        runProcess("/usr/bin/python3",
                   {"-c", "import sys, zlib; print(zlib.crc32(open(sys.argv[1], 'rb').read()))", file.string()});
    if (result.status != 0) {
        throw std::runtime_error("python3 failed: " + result.err);
    }
    return static_cast<std::uint32_t>(std::stoul(result.out));
}

} // namespace quelmar::test
