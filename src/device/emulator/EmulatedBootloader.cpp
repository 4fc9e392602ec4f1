#include "device/emulator/EmulatedBootloader.h"

#include "core/CRC32.h"
#include "core/FirmwareImage.h"
#include "core/IAP.h"
#include "core/Report.h"
#include "device/emulator/EmulatedBoard.h"

#include <algorithm>
#include <cerrno>

namespace quelmar {

namespace {

// A request the board does not answer stalls; hidraw reports that as EPIPE.
constexpr HIDStatus stalled = EPIPE;

} // namespace

std::vector<InterfaceDescription> EmulatedBootloader::interfaces(const BoardDescription&) const {
    return {{InterfaceRole::vendor}};
}

EmulatedFirmware::Reply EmulatedBootloader::getReport(EmulatedBoard&, InterfaceRole, ReportType, std::uint8_t) {
    return {stalled, {}};
}

EmulatedBootloader::Outcome EmulatedBootloader::execute(EmulatedBoard& board, ByteView packet) {
    if (packet.size() < 3) {
        return {badLength};
    }
    const std::uint8_t code = packet[1];
    const std::size_t length = packet[2];
    if (code < IAP::Code::write || code > IAP::Code::runApp) {
        return {unknownCommand};
    }
    if (length > IAP::maxPayload || 3 + length > packet.size()) {
        return {badLength};
    }
    const ByteView payload = packet.subspan(3, length);
    Bytes& image = board.storedImage();
    const bool chunk = code == IAP::Code::write || code == IAP::Code::verify;
    if ((chunk || code == IAP::Code::seal) && !open_) {
        return {notOpen};
    }
    if (chunk && payload.empty()) {
        return {badLength};
    }

    switch (code) {
    case IAP::Code::open:
        open_ = true;
        verifying_ = false;
        verified_ = 0;
        image.clear();
        board.setAppValid(false);
        return {ok};
    case IAP::Code::write:
        if (image.size() + payload.size() > FirmwareImage::areaSize) {
            return {areaFull};
        }
        if (verifying_) {
            return {writeAfterVerify};
        }
        image.insert(image.end(), payload.begin(), payload.end());
        return {ok};
    case IAP::Code::verify:
        verifying_ = true;
        if (verified_ + payload.size() > image.size()) {
            return {verifyBeyondWritten};
        }
        if (!std::equal(payload.begin(), payload.end(), image.begin() + static_cast<std::ptrdiff_t>(verified_))) {
            return {verifyMismatch};
        }
        verified_ += payload.size();
        return {ok};
    case IAP::Code::seal:
        if (payload.size() != 8) {
            return {badLength};
        }
        verifying_ = true;
        if (image.empty() || verified_ < image.size()) {
            return {notVerified};
        }
        if (littleEndian32(payload, 0) != image.size()) {
            return {lengthMismatch};
        }
        if (littleEndian32(payload, 4) != CRC32::compute(image)) {
            return {crcMismatch};
        }
        board.setAppValid(true);
        return {ok};
    default: // finish and runApp: no answer; the board restarts
        return {std::nullopt, true};
    }
}

HIDStatus EmulatedBootloader::setReport(EmulatedBoard& board, InterfaceRole on, ReportType type, ByteView report) {
    if (on != InterfaceRole::vendor || type != ReportType::output || report.empty() || report[0] != IAP::reportID) {
        return stalled;
    }
    const std::size_t number = board.recordPacket(report);
    const auto& faults = board.description().faults;
    const auto told = faults.replyStatus.find(number);
    auto outcome = told != faults.replyStatus.end() ? Outcome{told->second} : execute(board, report);
    if (faults.dropReply == number) {
        outcome.status.reset();
    }

    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(faults.delayMilliseconds);
    const auto send = [&](const Bytes& r) { pending_.push_back({due, r, false}); };
    const auto queued = pending_.size();
    if (const auto before = faults.sendBefore.find(number); before != faults.sendBefore.end()) {
        std::for_each(before->second.begin(), before->second.end(), send);
    }
    if (outcome.status) {
        Bytes reply(IAP::packetSize, 0x00);
        reply[0] = IAP::reportID;
        reply[1] = *outcome.status;
        send(reply);
    }
    if (const auto after = faults.sendAfter.find(number); after != faults.sendAfter.end()) {
        std::for_each(after->second.begin(), after->second.end(), send);
    }

    if (faults.vanishAfter == number) {
        if (pending_.size() > queued) {
            pending_.back().last = true;
        } else {
            board.leaveBus();
        }
        return 0;
    }
    if (outcome.restart) {
        // Destroys this firmware: nothing of it may be touched afterwards.
        board.restartInto(board.appValid() ? BoardMode::app : BoardMode::bootloader);
    }
    return 0;
}

std::optional<Bytes> EmulatedBootloader::nextInputReport(EmulatedBoard& board, InterfaceRole on) {
    if (on != InterfaceRole::vendor || pending_.empty() || pending_.front().due > std::chrono::steady_clock::now()) {
        return std::nullopt;
    }
    auto next = std::move(pending_.front());
    pending_.pop_front();
    if (next.last) {
        board.leaveBus();
    }
    return std::move(next.report);
}

std::optional<std::chrono::steady_clock::time_point> EmulatedBootloader::nextInputDue(InterfaceRole on) const {
    if (on != InterfaceRole::vendor || pending_.empty()) {
        return std::nullopt;
    }
    return pending_.front().due;
}

} // namespace quelmar
