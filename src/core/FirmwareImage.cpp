#include "core/FirmwareImage.h"

#include "core/CRC32.h"
#include "core/Hex.h"
#include "core/UPSError.h"
#include "core/UTF8.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <utf8proc.h>

namespace quelmar {

namespace {

bool isNewline(std::int32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Separators (general category Z), tab and the newline characters.
bool isTrimmed(std::int32_t c) {
    if (c < 0x80) {
        return c == ' ' || c == '\t' || isNewline(c);
    }
    if (isNewline(c)) {
        return true;
    }
    const auto category = utf8proc_category(c);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

const utf8proc_uint8_t* unsignedData(std::string_view text) {
    return reinterpret_cast<const utf8proc_uint8_t*>(text.data());
}

// Decodes the character starting at text[at]; the text is known to be valid UTF-8 there.
std::int32_t decode(std::string_view text, std::size_t at, std::size_t& length) {
    utf8proc_int32_t c = 0;
    length = static_cast<std::size_t>(
        utf8proc_iterate(unsignedData(text) + at, static_cast<utf8proc_ssize_t>(text.size() - at), &c));
    return c;
}

// Splits valid UTF-8 at every newline character, each one separately.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        std::int32_t c = byte;
        std::size_t length = 1;
        if (byte >= 0x80) {
            c = decode(text, at, length);
        }
        if (isNewline(c)) {
            lines.push_back(text.substr(begin, at - begin));
            begin = at + length;
        }
        at += length;
    }
    lines.push_back(text.substr(begin));
    return lines;
}

std::string_view trim(std::string_view line) {
    std::size_t length = 0;
    while (!line.empty() && isTrimmed(decode(line, 0, length))) {
        line.remove_prefix(length);
    }
    while (!line.empty()) {
        std::size_t last = line.size() - 1;
        while (last > 0 && (static_cast<unsigned char>(line[last]) & 0xC0) == 0x80) {
            --last;
        }
        if (!isTrimmed(decode(line, last, length))) {
            break;
        }
        line.remove_suffix(line.size() - last);
    }
    return line;
}

// The user-visible characters (extended grapheme clusters) of a text.
std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> out;
    utf8proc_int32_t state = 0;
    std::int32_t previous = -1;
    std::size_t begin = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 0;
        const auto c = decode(text, at, length);
        if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, c, &state)) {
            out.push_back(text.substr(begin, at - begin));
            begin = at;
        }
        previous = c;
        at += length;
    }
    if (at > begin) {
        out.push_back(text.substr(begin));
    }
    return out;
}

} // namespace

FirmwareImage::FirmwareImage(std::string_view hex) {
    if (!isValidUTF8(hex)) {
        throw UPSError("HEX 文件不是有效的 UTF-8 文本");
    }
    const auto lines = splitLines(hex);

    std::int64_t base = 0;
    bool endOfFile = false;
    Bytes area(areaSize, 0xFF);
    Bytes written(areaSize, 0);
    std::size_t highest = 0;
    bool anyData = false;
    Bytes record;

    for (std::size_t index = 0; index < lines.size(); ++index) {
        const auto error = [&](const char* reason) {
            return UPSError("HEX 第 " + std::to_string(index + 1) + " 行：" + reason);
        };
        const auto line = trim(lines[index]);
        if (line.empty()) {
            continue;
        }
        if (endOfFile) {
            throw error("EOF 后存在数据或缺少冒号");
        }
        if (!isASCII(line)) {
            // Such a line never loads: past the colon, a character that is not ASCII is no hex digit.
            const auto chars = characters(line);
            if (chars.front() != ":") {
                throw error("EOF 后存在数据或缺少冒号");
            }
            if ((chars.size() - 1) % 2 != 0) {
                throw error("十六进制长度错误");
            }
            throw error("无效十六进制");
        }
        if (line.front() != ':') {
            throw error("EOF 后存在数据或缺少冒号");
        }
        const auto digits = line.substr(1);
        if (digits.size() % 2 != 0) {
            throw error("十六进制长度错误");
        }
        if (!fromHex(digits, record)) {
            throw error("无效十六进制");
        }

        const std::size_t n = record.size();
        if (n < 5 || n != static_cast<std::size_t>(record[0]) + 5) {
            throw error("长度或校验和错误");
        }
        unsigned sum = 0;
        for (const auto byte : record) {
            sum += byte;
        }
        if (sum % 256 != 0) {
            throw error("长度或校验和错误");
        }

        const std::size_t length = record[0];
        const std::int64_t offset = std::int64_t{record[1]} << 8 | record[2];
        const std::uint8_t* const data = record.data() + 4;
        switch (record[3]) {
        case 0x00:
            if (offset + static_cast<std::int64_t>(length) > 0x10000) {
                throw error("地址溢出");
            }
            for (std::size_t i = 0; i < length; ++i) {
                const std::int64_t address = base + offset + static_cast<std::int64_t>(i);
                if (address < start || address >= limit) {
                    throw error("超出 APP 安全区域");
                }
                const auto k = static_cast<std::size_t>(address - start);
                if (written[k]) {
                    throw error("数据地址重叠");
                }
                written[k] = 1;
                area[k] = data[i];
                highest = anyData ? std::max(highest, k) : k;
                anyData = true;
            }
            break;
        case 0x01:
            if (length != 0 || offset != 0) {
                throw error("EOF 错误");
            }
            endOfFile = true;
            break;
        case 0x02:
        case 0x04:
            if (length != 2 || offset != 0) {
                throw error("扩展地址错误");
            }
            // Either kind replaces the base outright.
            base = (std::int64_t{data[0]} << 8 | data[1]) * (record[3] == 0x02 ? 16 : 65536);
            break;
        case 0x03:
        case 0x05:
            if (length != 4 || offset != 0) {
                throw error("入口地址错误");
            }
            break;
        default:
            throw error("不支持的记录类型");
        }
    }

    // The bootloader takes the image without addresses, so it must begin exactly at the start of the area.
    if (!endOfFile || !anyData || !written[0]) {
        throw UPSError("HEX 缺少 EOF 或 APP 起始地址错误");
    }
    area.resize(highest + 1);
    bytes_ = std::move(area);
}

FirmwareImage FirmwareImage::fromFile(const std::optional<Bytes>& contents) {
    if (!contents) {
        throw UPSError("HEX 文件过大");
    }
    return FirmwareImage(std::string_view(reinterpret_cast<const char*>(contents->data()), contents->size()));
}

std::uint32_t FirmwareImage::crc32() const {
    return CRC32::compute(bytes_);
}

} // namespace quelmar
