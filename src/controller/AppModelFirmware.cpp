// The firmware workflows: choosing an image, switching the board's mode and flashing.
#include "controller/AppModel.h"
#include "controller/Dialogs.h"
#include "controller/Operations.h"
#include "controller/USBWorker.h"
#include "core/IAP.h"
#include "core/UPSError.h"
#include "system/Files.h"

#include <algorithm>
#include <cstdio>

namespace quelmar {

void AppModel::chooseFirmware() {
    if (operation_) {
        return;
    }
    const auto path = dialogs_.chooseFileToOpen("hex");
    if (!path) {
        return;
    }
    try {
        auto image = FirmwareImage::fromFile(Files::readUpTo(*path, FirmwareImage::maxFileSize));
        const auto length = image.bytes().size();
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08X", image.crc32());
        useImage(std::move(image), connected_ ? std::optional(connected_->id) : std::nullopt,
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

USBWorker::Call<bool> AppModel::listed(std::string id, std::optional<bool> boot) {
    return worker_->run([&platform = worker_->platform(), id = std::move(id), boot](HIDSession&) {
        const auto devices = HIDSession::discover(platform);
        return std::any_of(devices.begin(), devices.end(), [&](const USBDevice& device) {
            return device.id == id && (!boot || device.bootloader == *boot);
        });
    });
}

QCoro::Task<Connection> AppModel::waitForMode(std::string id, bool boot) {
    const QPointer<QObject> owner(this);
    for (int attempt = 0; attempt < timing_.modeWaitTries; ++attempt) {
        auto pause = MainThread::sleep(owner, timing_.modeWaitPause);
        co_await pause;
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
    const auto board = *connected_;
    if (!dialogs_.confirm("进入固件升级模式？", "设备会重启进入 Bootloader。此步骤不会写入固件。", "进入") ||
        operation_ || connected_ != board) {
        co_return;
    }
    auto request = worker_->run([](HIDSession& session) {
        if (!session.device() || session.device()->bootloader) {
            throw UPSError("当前不是 APP 模式");
        }
        const Bytes report = {Reports::enterBootloader.id, 0x3C, 0x3C, 0x3C, 0x3C};
        session.set(report, ReportType::feature);
        session.close();
    });
    auto restarting = restartBoard(Operations::enteringBootloader, std::move(request), board.id, true);
    co_await restarting;
}

QCoro::Task<> AppModel::runApp() {
    if (operation_ || !connected_ || !connected_->bootloader) {
        co_return;
    }
    auto request = worker_->run([](HIDSession& session) {
        if (!session.device() || !session.device()->bootloader) {
            throw UPSError("当前不是 Bootloader 模式");
        }
        session.set(IAP::packet(IAP::Code::runApp, {}), ReportType::output);
        session.close();
    });
    auto restarting = restartBoard(Operations::returningToApp, std::move(request), connected_->id, false);
    co_await restarting;
}

QCoro::Task<> AppModel::restartBoard(QString operation, USBWorker::Call<void> request, std::string id, bool boot) {
    setOperation(std::move(operation));
    std::optional<std::string> failure;
    try {
        co_await request;
        clearConnection();
        auto waiting = waitForMode(id, boot);
        apply(co_await waiting);
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        clearConnection();
        fail(*failure);
    }
    setOperation(std::nullopt);
}

QCoro::Task<> AppModel::flash() {
    if (operation_ || !connected_ || !connected_->bootloader || !image_) {
        co_return;
    }
    if (imageDeviceID_ && *imageDeviceID_ != connected_->id) {
        fail("目标设备已变化，请重新选择适用固件");
        co_return;
    }
    const auto board = *connected_;
    const auto message = "目标：" + board.product + " " + board.serial + "\n文件：" + firmwareName_.toStdString() +
                         "\n请确认固件适用于当前板子。过程中请勿拔出 USB 或退出应用。";
    if (!dialogs_.confirm("写入 APP 固件？", message, "开始烧录") || operation_ || connected_ != board || !image_) {
        co_return;
    }
    setOperation(Operations::flashing);
    setProgress(0);
    setProgressText(QStringLiteral("准备烧录"));
    const auto image = *image_;
    std::optional<std::string> failure;
    try {
        auto writing = worker_->run([this, image](HIDSession& session) {
            session.flash(image, [this](double fraction, const std::string& text) { postProgress(fraction, text); });
        });
        co_await writing;
        log(QStringLiteral("固件写入、读回校验及 CRC 写入完成"));
        clearConnection();
        auto waiting = waitForMode(board.id, false);
        apply(co_await waiting);
        log(QStringLiteral("设备已恢复 APP 模式"));
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        clearConnection();
        auto closing = closeSession();
        co_await closing;
        fail(*failure);
    }
    setOperation(std::nullopt);
}

} // namespace quelmar
