// The firmware workflows: choosing an image, switching the board's mode and flashing.
#include "controller/AppModel.h"
#include "controller/Dialogs.h"
#include "controller/Operations.h"
#include "controller/USBWorker.h"
#include "core/IAP.h"
#include "core/UPSError.h"
#include "history/HistoryRecord.h"
#include "system/Files.h"

#include <cstdio>

namespace quelmar {

void AppModel::chooseFirmware() {
    if (operation_) {
        return;
    }
    // The image is for the board the person looked at when choosing, whatever is connected once the panel closes:
    // flash() refuses it for another board.
    const auto agreed = aboutBoard();
    const auto path = dialogs_.chooseFileToOpen("hex");
    if (!path || !holds(Agreement{agreed.operation, false, std::nullopt})) {
        return;
    }
    try {
        auto image = FirmwareImage::fromFile(Files::readUpTo(*path, FirmwareImage::maxFileSize));
        const auto length = image.bytes().size();
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08X", image.crc32());
        useImage(std::move(image), agreed.board ? std::optional(agreed.board->id) : std::nullopt,
                 QString::fromStdString(path->filename().string()));
        log(QStringLiteral("APP HEX 已验证：%1 字节，CRC32 %2").arg(length).arg(QLatin1String(crc)));
    } catch (const std::exception& error) {
        fail(messageOf(error));
    }
}

void AppModel::useImage(FirmwareImage image, std::optional<std::string> deviceID, const QString& name) {
    const auto length = static_cast<qint64>(image.bytes().size());
    image_ = std::move(image);
    imageDeviceID_ = std::move(deviceID);
    setFirmwareName(name);
    setFirmwareBytes(length);
}

QCoro::Task<Connection> AppModel::waitForMode(std::string id, bool boot) {
    const QPointer<QObject> owner(this);
    for (int attempt = 0; attempt < timing_.modeWaitTries; ++attempt) {
        auto pause = MainThread::sleep(owner, timing_.modeWaitPause);
        co_await pause;
        // Only this id, in this mode: another board that shows up meanwhile is never taken.
        auto look = listed(id, boot);
        if (co_await look) {
            auto connecting = worker_->connect(id);
            co_return co_await connecting;
        }
    }
    throw UPSError("设备未在 15 秒内重连，请检查 USB；不会选择其它设备");
}

QCoro::Task<> AppModel::enterBootloader() {
    if (operation_ || !connected_ || connected_->bootloader) {
        co_return;
    }
    const auto agreed = aboutBoard();
    if (!confirm(agreed, "进入固件升级模式？", "设备会重启进入 Bootloader。此步骤不会写入固件。", "进入")) {
        co_return;
    }
    auto running = runWorkflow(
        Operations::enteringBootloader, [this, id = agreed.board->id] { return restartSteps(true, id); },
        OnFailure::forgetBoard);
    co_await running;
}

QCoro::Task<> AppModel::runApp() {
    if (operation_ || !connected_ || !connected_->bootloader) {
        co_return;
    }
    auto running = runWorkflow(
        Operations::returningToApp, [this, id = connected_->id] { return restartSteps(false, id); },
        OnFailure::forgetBoard);
    co_await running;
}

QCoro::Task<> AppModel::restartSteps(bool intoBootloader, std::string id) {
    auto request = worker_->run([intoBootloader](HIDSession& session) {
        if (intoBootloader) {
            if (!session.device() || session.device()->bootloader) {
                throw UPSError("当前不是 APP 模式");
            }
            const Bytes report = {Reports::enterBootloader.id, 0x3C, 0x3C, 0x3C, 0x3C};
            session.set(report, ReportType::feature);
        } else {
            if (!session.device() || !session.device()->bootloader) {
                throw UPSError("当前不是 Bootloader 模式");
            }
            session.set(IAP::packet(IAP::Code::runApp, {}), ReportType::output);
        }
        session.close();
    });
    co_await request;
    clearConnection();
    auto waiting = waitForMode(id, intoBootloader);
    apply(co_await waiting);
}

QCoro::Task<> AppModel::flash() {
    if (operation_ || !connected_ || !connected_->bootloader || !image_) {
        co_return;
    }
    if (imageDeviceID_ && *imageDeviceID_ != connected_->id) {
        fail("目标设备已变化，请重新选择适用固件");
        co_return;
    }
    const auto agreed = aboutBoard();
    const auto image = *image_;
    const auto message = "目标：" + agreed.board->product + " " + agreed.board->serial + "\n文件：" +
                         firmwareName_.toStdString() + "\n请确认固件适用于当前板子。过程中请勿拔出 USB 或退出应用。";
    // The image written is the one the person confirmed, not one chosen while the dialog was open.
    if (!confirm(agreed, "写入 APP 固件？", message, "开始烧录") || image_ != image) {
        co_return;
    }
    auto running = runWorkflow(
        Operations::flashing, [this, image, id = agreed.board->id] { return flashSteps(image, id); },
        OnFailure::forgetBoardAndClose);
    co_await running;
}

QCoro::Task<> AppModel::flashSteps(FirmwareImage image, std::string id) {
    setProgress(0);
    setProgressText(QStringLiteral("准备烧录"));
    auto writing = worker_->run([this, image](HIDSession& session) {
        session.flash(image, [this](double fraction, const std::string& text) { postProgress(fraction, text); });
    });
    co_await writing;
    log(QStringLiteral("固件写入、读回校验及 CRC 写入完成"));
    clearConnection();
    auto waiting = waitForMode(id, false);
    apply(co_await waiting);
    log(QStringLiteral("设备已恢复 APP 模式"));
    record(HistoryEventKind::firmwareFlashed,
           QStringLiteral("固件已写入：") + firmwareName_ +
               (info_ ? QStringLiteral("，设备固件 ") + QString::fromStdString(info_->software) : QString()));
}

} // namespace quelmar
