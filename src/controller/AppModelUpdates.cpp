// The client update check, the firmware offer and the two download workflows.
#include "controller/AppModel.h"
#include "controller/Dialogs.h"
#include "controller/MainThread.h"
#include "controller/Operations.h"
#include "controller/USBWorker.h"
#include "core/FirmwareOffer.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "system/Files.h"

#include <system_error>

namespace quelmar {

namespace fs = std::filesystem;

QCoro::Task<> AppModel::checkUpdates(bool manual) {
    if (checking_ || operation_) {
        co_return;
    }
    setChecking(true);
    lastCheck_ = clock_();
    setUpdateText(QStringLiteral("正在检查更新…"));
    log(QStringLiteral("正在检查原生客户端更新…"));
    std::optional<std::string> failure;
    try {
        MainThread::Completion done(this);
        UpdateService::CallOptions call;
        call.finished = done.notifier();
        auto future = updates_->check(std::move(call));
        co_await done;
        feed_ = future.get();
        setUpdate(SignedUpdates::newerNative(*feed_, version_));
        refreshFirmware();
        const auto text = update_ ? QStringLiteral("发现原生版 ") + QString::fromStdString(update_->version)
                                  : QStringLiteral("原生客户端已是最新版本");
        setUpdateText(text);
        log(text);
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        setUpdateText(QStringLiteral("检查失败，可点击重试"));
        log(QStringLiteral("更新检查失败：") + QString::fromStdString(*failure));
        if (manual) {
            setErrorMessage(QString::fromStdString(*failure));
        }
    }
    setChecking(false);
}

void AppModel::refreshFirmware() {
    std::optional<UpdatePackage> offer;
    if (feed_ && connected_ && !connected_->bootloader && info_) {
        offer = SignedUpdates::newerFirmware(*feed_, connected_->product, info_->hardware, info_->software);
    }
    setFirmwarePackage(std::move(offer));
}

QCoro::Task<fs::path> AppModel::download(UpdatePackage package) {
    MainThread::Completion done(this);
    UpdateService::CallOptions call;
    call.progress = [this](double fraction) { postProgress(fraction, std::nullopt); };
    call.finished = done.notifier();
    auto future = updates_->download(std::move(package), std::move(call));
    co_await done;
    co_return future.get();
}

QCoro::Task<> AppModel::downloadFirmware() {
    if (operation_ || !firmwarePackage_ || !connected_) {
        co_return;
    }
    const auto package = *firmwarePackage_;
    const auto id = connected_->id;
    setOperation(Operations::downloadingFirmware);
    setProgress(0);
    setProgressText(QStringLiteral("正在下载已签名的固件"));
    std::optional<fs::path> file;
    std::optional<std::string> failure;
    try {
        auto downloading = download(package);
        file = co_await downloading;
        auto image = FirmwareImage::fromFile(Files::readUpTo(*file, FirmwareImage::maxFileSize));
        // While the download held the operation the poll loop stood still, so look at the bus itself.
        auto look = listed(id);
        const bool present = co_await look;
        if (!present || !connected_ || connected_->id != id) {
            throw UPSError("设备已变化，请重新下载适用固件");
        }
        useImage(std::move(image), id, QString::fromStdString(package.model.value_or("") + " APP " + package.version));
        log(QStringLiteral("固件下载、签名清单及 HEX 验证通过；请进入 Bootloader 后确认烧录"));
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (file) {
        std::error_code ignored;
        fs::remove(*file, ignored);
    }
    if (failure) {
        fail(*failure);
    }
    setOperation(std::nullopt);
}

QCoro::Task<> AppModel::updateClicked() {
    if (operation_) {
        co_return;
    }
    if (!update_) {
        checkUpdates(true);
        co_return;
    }
    fs::path target;
    try {
        target = installTarget_();
    } catch (const std::exception& error) {
        fail(messageOf(error));
        co_return;
    }
    const auto package = *update_;
    if (!dialogs_.confirm("更新至 " + package.version + "？",
                          package.notes.value_or("下载完成后将再次确认安装并重启。"), "下载") ||
        operation_) {
        co_return;
    }
    setOperation(Operations::downloadingClient);
    setProgress(0);
    setProgressText(QStringLiteral("正在下载客户端"));
    std::optional<fs::path> archive;
    std::optional<StagedUpdate> staged;
    std::optional<std::string> failure;
    try {
        auto downloading = download(package);
        archive = co_await downloading;
        // Unpacking and checking the seal block; they run on the worker, away from the window.
        auto staging = worker_->run([archive = *archive, target, version = package.version](HIDSession&) {
            return NativeInstaller::prepare(archive, target, version);
        });
        staged = co_await staging;
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    bool launched = false;
    if (staged &&
        dialogs_.confirm("安装并重新启动？", "签名、文件和应用版本验证通过。旧版会保留，新版无法启动时自动恢复。",
                         "安装并重启")) {
        try {
            launchInstaller_(*staged);
            launched = true;
        } catch (const std::exception& error) {
            failure = messageOf(error);
        }
    }
    // Only the installer, once started, still needs the stage; nobody needs the archive.
    std::error_code ignored;
    if (staged && !launched) {
        fs::remove_all(staged->stage, ignored);
    }
    if (archive) {
        fs::remove(*archive, ignored);
    }
    if (failure) {
        fail(*failure);
    }
    if (launched) {
        // The installer waits for this process to end before it swaps the bundles.
        dialogs_.quitApplication();
    }
    setOperation(std::nullopt);
}

} // namespace quelmar
