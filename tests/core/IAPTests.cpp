#include "HexFixtures.h"
#include "core/FirmwareImage.h"
#include "core/IAP.h"
#include "core/UPSError.h"

#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::ThrowsMessage;

namespace {

FirmwareImage image(const Bytes& bytes) {
    return FirmwareImage(intelHex(static_cast<std::uint32_t>(FirmwareImage::start), bytes));
}

struct Sent {
    std::uint8_t code;
    Bytes payload;
    bool replyAwaited;
    bool operator==(const Sent&) const = default;
};
struct Reported {
    double fraction;
    std::string text;
};
using Event = std::variant<Sent, Reported>;

// Runs the sequence and records commands and progress in the order they happen; the command throws
// error at call failAt.
struct Recorder {
    std::vector<Event> events;
    std::size_t calls = 0;
    std::size_t failAt = SIZE_MAX;

    void flash(const FirmwareImage& firmware) {
        IAP::flash(
            firmware,
            [&](std::uint8_t code, ByteView payload, bool replyAwaited) {
                events.push_back(Sent{code, Bytes(payload.begin(), payload.end()), replyAwaited});
                if (calls++ == failAt) {
                    throw UPSError("Bootloader 返回错误：5");
                }
            },
            [&](double fraction, const std::string& text) {
                events.push_back(Reported{fraction, text});
            });
    }

    std::vector<Sent> sent() const {
        std::vector<Sent> out;
        for (const auto& event : events) {
            if (const auto* s = std::get_if<Sent>(&event)) {
                out.push_back(*s);
            }
        }
        return out;
    }
    std::vector<Reported> reported() const {
        std::vector<Reported> out;
        for (const auto& event : events) {
            if (const auto* r = std::get_if<Reported>(&event)) {
                out.push_back(*r);
            }
        }
        return out;
    }
};

void expectSent(const Event& event, std::uint8_t code, const Bytes& payload, bool replyAwaited) {
    ASSERT_TRUE(std::holds_alternative<Sent>(event));
    EXPECT_EQ(std::get<Sent>(event), (Sent{code, payload, replyAwaited}));
}

void expectReported(const Event& event, double fraction, const std::string& text) {
    ASSERT_TRUE(std::holds_alternative<Reported>(event));
    EXPECT_DOUBLE_EQ(std::get<Reported>(event).fraction, fraction);
    EXPECT_EQ(std::get<Reported>(event).text, text);
}

const std::string writing = "写入固件";
const std::string verifying = "读回校验";
const std::string done = "写入与校验完成，等待设备重连";

} // namespace

TEST(IAP, PacketLayout) {
    // clang-format off
    const Bytes expected = {
        0x01,             // report ID
        0x80,             // command code
        0x03,             // payload length
        0xAA, 0xBB, 0xCC, // payload
    };
    // clang-format on
    auto padded = expected;
    padded.resize(64, 0x00);
    EXPECT_EQ(IAP::packet(0x80, Bytes{0xAA, 0xBB, 0xCC}), padded);

    Bytes empty(64, 0x00);
    empty[0] = 0x01;
    empty[1] = 0x83;
    EXPECT_EQ(IAP::packet(0x83, {}), empty);
}

TEST(IAP, FullPayloadHasNoPadding) {
    Bytes payload(61);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    const auto packet = IAP::packet(0x82, payload);
    ASSERT_EQ(packet.size(), 64u);
    EXPECT_EQ(packet[0], 0x01);
    EXPECT_EQ(packet[1], 0x82);
    EXPECT_EQ(packet[2], 61);
    EXPECT_EQ(Bytes(packet.begin() + 3, packet.end()), payload);
}

TEST(IAP, LongerPayloadsAreRefused) {
    EXPECT_THAT([] { IAP::packet(0x80, Bytes(62, 0)); }, ThrowsMessage<UPSError>("IAP 数据超过 61 字节"));
    EXPECT_THAT([] { IAP::packet(0x80, Bytes(300, 0)); }, ThrowsMessage<UPSError>("IAP 数据超过 61 字节"));
}

TEST(IAP, SequenceOfA62ByteImage) {
    const auto bytes = patternBytes(62);
    const auto firmware = image(bytes);
    const Bytes head(bytes.begin(), bytes.begin() + 61);
    const Bytes tail{bytes.back()};
    const auto crc = firmware.crc32();
    // clang-format off
    const Bytes seal = {
        62, 0x00, 0x00, 0x00,                                 // length, little-endian
        static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
        static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24), // CRC-32, little-endian
    };
    // clang-format on

    Recorder recorder;
    recorder.flash(firmware);
    const auto& e = recorder.events;
    ASSERT_EQ(e.size(), 12u);
    expectSent(e[0], 0x81, {}, true);
    expectSent(e[1], 0x80, head, true);
    expectReported(e[2], 61.0 / 62.0 * 0.5, writing);
    expectSent(e[3], 0x80, tail, true);
    expectReported(e[4], 0.5, writing);
    expectSent(e[5], 0x82, head, true);
    expectReported(e[6], 0.5 + 61.0 / 62.0 * 0.5, verifying);
    expectSent(e[7], 0x82, tail, true);
    expectReported(e[8], 1.0, verifying);
    expectSent(e[9], 0x84, seal, true);
    expectSent(e[10], 0x83, {}, false);
    expectReported(e[11], 1.0, done);
}

TEST(IAP, SealCarriesLengthAndCRCLittleEndian) {
    // The one byte 0x5A has the CRC-32 0x59BC5767.
    Recorder recorder;
    recorder.flash(image({0x5A}));
    const auto sent = recorder.sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_THAT(sent[1].payload, ElementsAre(0x5A));
    EXPECT_THAT(sent[3].payload, ElementsAre(0x01, 0x00, 0x00, 0x00,   // length 1
                                             0x67, 0x57, 0xBC, 0x59)); // CRC-32 0x59BC5767
}

TEST(IAP, SequenceOfAFullAreaImage) {
    const auto bytes = patternBytes(44928);
    const auto firmware = image(bytes);
    Recorder recorder;
    recorder.flash(firmware);

    const auto sent = recorder.sent();
    ASSERT_EQ(sent.size(), 1 + 737 + 737 + 1 + 1u);
    EXPECT_EQ(sent.front(), (Sent{0x81, {}, true}));
    for (const auto& [code, first] : {std::pair{std::uint8_t{0x80}, 1u}, std::pair{std::uint8_t{0x82}, 738u}}) {
        Bytes joined;
        for (std::size_t k = 0; k < 737; ++k) {
            const auto& packet = sent[first + k];
            EXPECT_EQ(packet.code, code);
            EXPECT_TRUE(packet.replyAwaited);
            EXPECT_EQ(packet.payload.size(), k < 736 ? 61u : 32u);
            joined.insert(joined.end(), packet.payload.begin(), packet.payload.end());
        }
        EXPECT_EQ(joined, bytes);
    }
    const auto crc = firmware.crc32();
    EXPECT_EQ(sent[1475], (Sent{0x84,
                                {0x80, 0xAF, 0x00, 0x00, // 44,928 = 0xAF80
                                 static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                 static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)},
                                true}));
    EXPECT_EQ(sent[1476], (Sent{0x83, {}, false}));

    const auto reported = recorder.reported();
    ASSERT_EQ(reported.size(), 737 + 737 + 1u);
    for (std::size_t k = 0; k < 1474; ++k) {
        const std::size_t end = std::min<std::size_t>((k % 737 + 1) * 61, 44928);
        const double pass = k < 737 ? 0.0 : 1.0;
        EXPECT_DOUBLE_EQ(reported[k].fraction, (static_cast<double>(end) / 44928.0 + pass) * 0.5) << k;
        EXPECT_EQ(reported[k].text, k < 737 ? writing : verifying) << k;
    }
    EXPECT_DOUBLE_EQ(reported[0].fraction, 61.0 / 44928.0 * 0.5);
    EXPECT_EQ(reported[736].fraction, 0.5);
    EXPECT_EQ(reported[1473].fraction, 1.0);
    EXPECT_EQ(reported[1474].fraction, 1.0);
    EXPECT_EQ(reported[1474].text, done);
}

// The command fails at call N of the 2,000-byte image's 69 packets (33 chunks per pass): nothing more is sent or
// reported.
class FirstFailureStops : public testing::TestWithParam<std::size_t> {};
TEST_P(FirstFailureStops, TheSequence) {
    const auto firmware = image(patternBytes(2000));
    Recorder recorder;
    recorder.failAt = GetParam();
    EXPECT_THAT([&] { recorder.flash(firmware); }, ThrowsMessage<UPSError>("Bootloader 返回错误：5"));
    EXPECT_EQ(recorder.sent().size(), GetParam() + 1);
    ASSERT_TRUE(std::holds_alternative<Sent>(recorder.events.back()));
    // Progress up to the failure: one report after each chunk that succeeded.
    const std::size_t chunksDone = GetParam() == 0 ? 0 : std::min<std::size_t>(GetParam() - 1, 66);
    EXPECT_EQ(recorder.reported().size(), chunksDone);
}
// open, first and last write, first and last verify, seal, finish.
INSTANTIATE_TEST_SUITE_P(Calls, FirstFailureStops, testing::Values(0, 1, 33, 34, 66, 67, 68));

TEST(IAP, ErrorsOtherThanUPSErrorPassThroughUnchanged) {
    const auto firmware = image(patternBytes(100));
    std::size_t calls = 0;
    try {
        IAP::flash(
            firmware,
            [&](std::uint8_t, ByteView, bool) {
                if (++calls == 3) {
                    throw std::system_error(EIO, std::generic_category(), "set report");
                }
            },
            [](double, const std::string&) {});
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(EIO, std::generic_category()));
    }
    EXPECT_EQ(calls, 3u);
}
