#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quelmar {

// The exact byte image of the board's APP area, taken from the text of an Intel HEX file.
// Element k of bytes() belongs to address start + k; it is never empty and never extends past limit.
class FirmwareImage {
public:
    static constexpr std::int64_t start = 0x08003000;      // first address of the APP area
    static constexpr std::int64_t limit = 0x0800DF80;      // first address past it
    static constexpr std::size_t areaSize = limit - start; // 44,928 bytes
    // HEX files larger than this are refused before they are read.
    static constexpr std::int64_t maxFileSize = 2'097'152;

    // Throws UPSError "HEX 第 N 行：<reason>" for a faulty line, "HEX 缺少 EOF 或 APP 起始地址错误"
    // when the file as a whole does not describe the area, and "HEX 文件不是有效的 UTF-8 文本" for text
    // that is not UTF-8.
    explicit FirmwareImage(std::string_view hex);

    // The image of a HEX file read with a limit of maxFileSize bytes (Files::readUpTo): no contents mean the
    // file was larger, which throws UPSError "HEX 文件过大"; otherwise as the constructor.
    static FirmwareImage fromFile(const std::optional<Bytes>& contents);

    const Bytes& bytes() const { return bytes_; }
    std::uint32_t crc32() const;

    bool operator==(const FirmwareImage&) const = default;

private:
    Bytes bytes_;
};

} // namespace quelmar
