// The client update check, the firmware offer, the two download workflows and the tidying after earlier updates.
#include "controller/AppModel.h"
#include "controller/Dialogs.h"
#include "controller/MainThread.h"
#include "controller/Operations.h"
#include "controller/Transients.h"
#include "controller/USBWorker.h"
#include "core/FirmwareOffer.h"
#include "core/SignedUpdates.h"
#include "core/UPSError.h"
#include "install/Leftovers.h"
#include "install/NativeInstaller.h"
#include "system/Files.h"
#include "update/UpdateService.h"

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
        MainThread::Pending<UpdateFeed> checking(this, [this](std::function<void()> finished) {
            UpdateService::CallOptions call;
            call.finished = std::move(finished);
            return updates_->check(std::move(call));
        });
        feed_ = co_await checking;
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
    MainThread::Pending<fs::path> downloading(this, [this, &package](std::function<void()> finished) {
        UpdateService::CallOptions call;
        call.progress = [this](double fraction) { postProgress(fraction, std::nullopt); };
        call.finished = std::move(finished);
        return updates_->download(std::move(package), std::move(call));
    });
    co_return co_await downloading;
}

MainThread::Pending<bool> AppModel::listed(std::string id, std::optional<bool> boot) {
    return worker_->run([&platform = worker_->platform(), id = std::move(id), boot](HIDSession&) {
        const auto devices = HIDSession::discover(platform);
        return std::any_of(devices.begin(), devices.end(), [&](const USBDevice& device) {
            return device.id == id && (!boot || device.bootloader == *boot);
        });
    });
}

QCoro::Task<> AppModel::downloadFirmware() {
    if (operation_ || !firmwarePackage_ || !connected_) {
        co_return;
    }
    auto running =
        runWorkflow(Operations::downloadingFirmware, [this, package = *firmwarePackage_, id = connected_->id] {
            return downloadFirmwareSteps(package, id);
        });
    co_await running;
}

QCoro::Task<> AppModel::downloadFirmwareSteps(UpdatePackage package, std::string id) {
    setProgress(0);
    setProgressText(QStringLiteral("正在下载已签名的固件"));
    auto downloading = download(package);
    const Transient file(transients_, co_await downloading);
    auto image = FirmwareImage::fromFile(Files::readUpTo(file.path(), FirmwareImage::maxFileSize));
    // While the download held the operation the poll loop stood still, so look at the bus itself.
    auto look = listed(id);
    const bool present = co_await look;
    if (!present || !connected_ || connected_->id != id) {
        throw UPSError("设备已变化，请重新下载适用固件");
    }
    useImage(std::move(image), id, QString::fromStdString(package.model.value_or("") + " APP " + package.version));
    log(QStringLiteral("固件下载、签名清单及 HEX 验证通过；请进入 Bootloader 后确认烧录"));
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
    if (!confirm(aboutOperation(), "更新至 " + package.version + "？",
                 package.notes.value_or("下载完成后将再次确认安装并重启。"), "下载")) {
        co_return;
    }
    auto running = runWorkflow(Operations::downloadingClient,
                               [this, package, target] { return updateClientSteps(package, target); });
    co_await running;
}

QCoro::Task<> AppModel::updateClientSteps(UpdatePackage package, fs::path target) {
    setProgress(0);
    setProgressText(QStringLiteral("正在下载客户端"));
    auto downloading = download(package);
    // Nobody needs the archive once this step ends, however it ends.
    const Transient archive(transients_, co_await downloading);
    setProgressText(QStringLiteral("正在验证并准备安装，请稍候"));
    // Unpacking and checking the seal block; they run on the worker, away from the window. The stage is known to the
    // controller from the moment it exists, so that quitting meanwhile removes it too.
    auto staging = worker_->run(
        [archive = archive.path(), target, version = package.version, transients = transients_](HIDSession&) {
            auto staged = NativeInstaller::prepare(archive, target, version);
            transients->add(staged.stage);
            return staged;
        });
    const auto staged = co_await staging;
    Transient stage(transients_, staged.stage);
    if (!confirm(aboutOperation(), "安装并重新启动？",
                 "签名、文件和应用版本验证通过。旧版会保留，新版无法启动时自动恢复。", "安装并重启")) {
        co_return;
    }
    launchInstaller_(staged);
    // The installer owns the stage now, and waits for this process to end before it swaps the bundles.
    stage.release();
    dialogs_.quitApplication();
}

QCoro::Task<> AppModel::tidyEarlierUpdates() {
    std::optional<fs::path> target;
    try {
        target = installTarget_();
    } catch (const std::exception&) {
        // A client outside a bundle has no stages beside it; its downloads are still tidied.
    }
    auto tidying = worker_->run(
        [directory = updatesDirectory_, target](HIDSession&) { return Leftovers::tidy(directory, target); });
    const auto rolledBack = co_await tidying;
    if (!rolledBack) {
        co_return;
    }
    auto notice =
        rolledBack->version.empty()
            ? QStringLiteral("上次更新未能完成，已恢复当前版本")
            : QStringLiteral("上次更新至 %1 未能完成，已恢复当前版本").arg(QString::fromStdString(rolledBack->version));
    if (!rolledBack->reason.empty()) {
        notice += QStringLiteral("：") + QString::fromStdString(rolledBack->reason);
    }
    log(notice);
    setInstallNotice(notice);
}

} // namespace quelmar
