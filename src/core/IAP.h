#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quelmar {

class FirmwareImage;

// In-application programming: the bootloader's packets and the command sequence that writes, verifies and
// seals an image, independent of the transport that carries them.
namespace IAP {

// Command codes, byte 1 of a packet.
namespace Code {
inline constexpr std::uint8_t write = 0x80;  // next image chunk, written
inline constexpr std::uint8_t open = 0x81;   // opens a flashing sequence; always first
inline constexpr std::uint8_t verify = 0x82; // next image chunk again, compared with what was written
inline constexpr std::uint8_t finish = 0x83; // ends the sequence; the board restarts into APP mode (no reply)
inline constexpr std::uint8_t seal = 0x84;   // image length and CRC-32, both u32 little-endian
inline constexpr std::uint8_t runApp = 0x85; // leaves the bootloader without flashing (no reply)
} // namespace Code

// Packet: report ID, code, payload length N, N payload bytes, zero padding to packetSize.
inline constexpr std::uint8_t reportID = 1;
inline constexpr std::size_t packetSize = 64;
inline constexpr std::size_t maxPayload = 61;

// Performs one exchange: sends the packet of (code, payload) and, when a reply is awaited, waits for a zero
// status; throws otherwise. The payload view is valid only during the call.
using Command = std::function<void(std::uint8_t code, ByteView payload, bool replyAwaited)>;
// Called synchronously after steps of the sequence, with a fraction from 0.0 to 1.0.
using Progress = std::function<void(double fraction, const std::string& text)>;

// The packetSize bytes of one packet; throws UPSError "IAP 数据超过 61 字节" for a longer payload.
Bytes packet(std::uint8_t code, ByteView payload);

// open, the write pass, the verify pass, seal, finish. The first error of command propagates unchanged
// and nothing more is sent.
void flash(const FirmwareImage& image, const Command& command, const Progress& progress);

} // namespace IAP

} // namespace quelmar
