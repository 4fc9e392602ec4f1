#include "core/IAP.h"

#include "core/FirmwareImage.h"
#include "core/UPSError.h"

#include <algorithm>
#include <string>

namespace quelmar::IAP {

Bytes packet(std::uint8_t code, ByteView payload) {
    if (payload.size() > maxPayload) {
        throw UPSError("IAP 数据超过 61 字节");
    }
    Bytes out(packetSize, 0x00);
    out[0] = reportID;
    out[1] = code;
    out[2] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + 3);
    return out;
}

void flash(const FirmwareImage& image, const Command& command, const Progress& progress) {
    static const std::string writing = "写入固件";
    static const std::string verifying = "读回校验";
    static const std::string done = "写入与校验完成，等待设备重连";

    const ByteView bytes = image.bytes();
    const std::size_t size = bytes.size();
    const auto pass = [&](std::uint8_t code, double offset, const std::string& text) {
        for (std::size_t i = 0; i < size; i += maxPayload) {
            const std::size_t end = std::min(i + maxPayload, size);
            command(code, bytes.subspan(i, end - i), true);
            progress((static_cast<double>(end) / static_cast<double>(size) + offset) * 0.5, text);
        }
    };

    command(Code::open, {}, true);
    pass(Code::write, 0.0, writing);
    pass(Code::verify, 1.0, verifying);
    // The image never exceeds the APP area, so its length fits 32 bits.
    Bytes seal(8, 0);
    putLittleEndian(seal, 0, 4, size);
    putLittleEndian(seal, 4, 4, image.crc32());
    command(Code::seal, seal, true);
    command(Code::finish, {}, false);
    progress(1.0, done);
}

} // namespace quelmar::IAP
