#include "controller/AppModel.h"

#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "controller/MainThread.h"
#include "controller/Operations.h"
#include "controller/Transients.h"
#include "controller/USBWorker.h"
#include "core/BatteryForm.h"
#include "core/UPSError.h"
#include "history/HistoryRecorder.h"
#include "install/AppMetadata.h"
#include "system/Files.h"

#include <algorithm>
#include <utility>

#include <qcoro/qcorotimer.h>

namespace quelmar {

static_assert(ControllerTiming{}.bootReplyDeadline == HIDSession::defaultReplyDeadline);

namespace {

// The resistance in milliohms with exactly three decimals, from whole micro-ohms: exact, whatever the locale.
QString milliOhmsText(std::int64_t microOhms) {
    return QStringLiteral("%1.%2").arg(microOhms / 1000).arg(microOhms % 1000, 3, 10, QLatin1Char('0'));
}

// The history's kind of a power event, and how the window says it.
std::pair<HistoryEventKind, QString> historyOf(PowerEvent event) {
    switch (event) {
    case PowerEvent::connected:
        return {HistoryEventKind::boardConnected, QStringLiteral("设备已连接")};
    case PowerEvent::lost:
        return {HistoryEventKind::boardLost, QStringLiteral("设备已断开")};
    case PowerEvent::mainsLost:
        return {HistoryEventKind::mainsLost, QStringLiteral("市电中断，电池供电")};
    case PowerEvent::mainsRestored:
        return {HistoryEventKind::mainsRestored, QStringLiteral("市电恢复")};
    case PowerEvent::batteryLow:
        return {HistoryEventKind::batteryLowRaised, QStringLiteral("电量低")};
    case PowerEvent::shutdownImminent:
    case PowerEvent::shutdownStarted:
        break;
    }
    return {HistoryEventKind::shutdownImminentRaised, QStringLiteral("即将关机")};
}

bool deniedAccess(const std::exception& error) {
    const auto* failure = dynamic_cast<const OpenFailure*>(&error);
    return failure != nullptr && failure->accessDenied();
}

} // namespace

AppModel::AppModel(Setup setup, QObject* parent)
    : QObject(parent)
    , connectionText_(QStringLiteral("正在查找设备"))
    , updateText_(QStringLiteral("等待检查"))
    , firmwareName_(QStringLiteral("尚未选择 APP 固件"))
    , dialogs_(*setup.dialogs)
    , timing_(setup.timing)
    , clock_(std::move(setup.clock))
    , arguments_(std::move(setup.arguments))
    , version_(setup.version.empty() ? AppMetadata::version() : std::move(setup.version))
    , installTarget_(std::move(setup.installTarget))
    , launchInstaller_(std::move(setup.launchInstaller))
    , updatesDirectory_(setup.updates.directory)
    , historyFile_(setup.history)
    , readOnly_(setup.readOnly)
    , boardPinned_(setup.board.has_value())
    , transients_(std::make_shared<Transients>())
    , worker_(std::make_unique<USBWorker>(*setup.platform, this, timing_.bootReplyDeadline))
    , updates_(std::make_unique<UpdateService>(std::move(setup.updates))) {
    if (setup.board) {
        selectedID_ = QString::fromStdString(*setup.board);
    }
    if (setup.history) {
        HistoryRecorder::Setup history;
        history.file = *setup.history;
        history.clock = clock_;
        history.onFailure = [this](const HistoryFailure& failure) {
            const auto text = failure.kind == HistoryFailure::Kind::setAside
                                  ? QStringLiteral("历史记录文件已损坏，已改名保留为 %1，并重新开始记录")
                                        .arg(QString::fromStdString(failure.setAsideAs.string()))
                                  : QStringLiteral("历史记录无法写入：%1").arg(QString::fromStdString(failure.reason));
            MainThread::post(this, [this, text] { reportHistoryFailure(text); });
        };
        history_ = std::make_unique<HistoryRecorder>(std::move(history));
    }
}

AppModel::~AppModel() {
    // Their last jobs may still make files (a stage being unpacked): those go with everything else left.
    updates_.reset();
    worker_.reset();
    transients_->removeAll();
    history_.reset();
}

// ---- state

void AppModel::setSelectedID(const QString& id) {
    change(selectedID_, id, &AppModel::selectedIDChanged);
}

void AppModel::setCapacity(const QString& text) {
    change(capacity_, text, &AppModel::capacityChanged);
}

void AppModel::setResistance(const QString& text) {
    change(resistance_, text, &AppModel::resistanceChanged);
}

void AppModel::setNominal(qint64 code) {
    change(nominal_, code, &AppModel::nominalChanged);
}

void AppModel::setErrorMessage(const std::optional<QString>& message) {
    change(errorMessage_, message, &AppModel::errorMessageChanged);
}

bool AppModel::flashing() const {
    return operation_ == Operations::flashing;
}

bool AppModel::canConfigure() const {
    return connected_ && !connected_->bootloader && hasConfig_ && !operation_;
}

void AppModel::setDevices(std::vector<DeviceChoice> devices) {
    change(devices_, std::move(devices), &AppModel::devicesChanged);
}

void AppModel::setConnected(std::optional<DeviceChoice> device) {
    change(connected_, std::move(device), &AppModel::connectedChanged);
}

void AppModel::setInfo(std::optional<DeviceInfo> info) {
    change(info_, std::move(info), &AppModel::infoChanged);
}

void AppModel::setSnapshot(std::optional<Snapshot> snapshot) {
    change(snapshot_, std::move(snapshot), &AppModel::snapshotChanged);
}

void AppModel::setOperation(std::optional<QString> operation) {
    change(operation_, std::move(operation), &AppModel::operationChanged);
}

void AppModel::setProgress(double progress) {
    change(progress_, progress, &AppModel::progressChanged);
}

void AppModel::setProgressText(const QString& text) {
    change(progressText_, text, &AppModel::progressTextChanged);
}

void AppModel::setConnectionText(const QString& text) {
    change(connectionText_, text, &AppModel::connectionTextChanged);
}

void AppModel::setUpdateText(const QString& text) {
    change(updateText_, text, &AppModel::updateTextChanged);
}

void AppModel::setChecking(bool checking) {
    change(checking_, checking, &AppModel::checkingChanged);
}

void AppModel::setUpdate(std::optional<UpdatePackage> update) {
    change(update_, std::move(update), &AppModel::updateChanged);
}

void AppModel::setFirmwarePackage(std::optional<UpdatePackage> package) {
    change(firmwarePackage_, std::move(package), &AppModel::firmwarePackageChanged);
}

void AppModel::setFirmwareName(const QString& name) {
    change(firmwareName_, name, &AppModel::firmwareNameChanged);
}

void AppModel::setFirmwareBytes(qint64 bytes) {
    change(firmwareBytes_, bytes, &AppModel::firmwareBytesChanged);
}

void AppModel::setHasConfig(bool hasConfig) {
    change(hasConfig_, hasConfig, &AppModel::hasConfigChanged);
}

void AppModel::setAccessDenied(bool denied) {
    change(accessDenied_, denied, &AppModel::accessDeniedChanged);
}

void AppModel::setHidProblem(std::optional<QString> problem) {
    change(hidProblem_, std::move(problem), &AppModel::hidProblemChanged);
}

void AppModel::setInstallNotice(std::optional<QString> notice) {
    change(installNotice_, std::move(notice), &AppModel::installNoticeChanged);
}

void AppModel::derivedMayHaveChanged() {
    if (flashingWas_ != flashing()) {
        flashingWas_ = flashing();
        emit flashingChanged();
        if (!flashingWas_ && quitDeferred_) {
            // Once the workflow has finished its last step.
            QMetaObject::invokeMethod(
                this, [this] { dialogs_.quitApplication(); }, Qt::QueuedConnection);
        }
    }
    if (canConfigureWas_ != canConfigure()) {
        canConfigureWas_ = canConfigure();
        emit canConfigureChanged();
    }
}

// ---- log

void AppModel::log(const QString& text) {
    logs_.append(LogLine{QUuid::createUuid(), clock_(), text});
}

void AppModel::clearLogs() {
    logs_.clear();
}

void AppModel::exportLogs() {
    const auto destination = dialogs_.chooseSaveLocation("Quelmar-log.txt");
    if (!destination) {
        return;
    }
    try {
        // A file that is replaced keeps its permissions.
        Files::writeAtomically(*destination, logs_.exportText(), Files::modeOr(*destination, 0644));
    } catch (const std::exception& error) {
        fail(messageOf(error));
    }
}

void AppModel::fail(const std::string& message) {
    log(QString::fromStdString(message));
    setErrorMessage(QString::fromStdString(message));
}

void AppModel::quitWhenSafe(const QString& why) {
    if (!flashing()) {
        dialogs_.quitApplication();
        return;
    }
    if (!quitDeferred_) {
        quitDeferred_ = true;
        log(QStringLiteral("收到 %1：固件写入和校验完成后退出").arg(why));
    }
}

// ---- workflows

QCoro::Task<> AppModel::runWorkflow(QString operation, std::function<QCoro::Task<>()> steps, OnFailure onFailure) {
    if (operation_) {
        co_return;
    }
    setOperation(std::move(operation));
    std::optional<std::string> failure;
    try {
        auto running = steps();
        co_await running;
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        if (onFailure != OnFailure::keepBoard) {
            clearConnection();
        }
        if (onFailure == OnFailure::forgetBoardAndClose) {
            auto closing = closeSession();
            co_await closing;
        }
        fail(*failure);
    }
    setOperation(std::nullopt);
}

bool AppModel::holds(const Agreement& agreement) const {
    return operation_ == agreement.operation && (!agreement.aboutBoard || connected_ == agreement.board);
}

bool AppModel::confirm(const Agreement& agreement, const std::string& title, const std::string& message,
                       const std::string& button) {
    // The dialog turns the event loop: the poll loop and other tasks go on while it is open.
    return dialogs_.confirm(title, message, button) && holds(agreement);
}

// ---- start and the poll loop

void AppModel::start() {
    if (started_) {
        return;
    }
    started_ = true;
    log(QStringLiteral("Quelmar 原生版 ") + QString::fromStdString(version_));
    if (!readOnly_) {
        NativeInstaller::acknowledgeLaunch(arguments_);
        tidyEarlierUpdates();
        checkUpdates(false);
    }
    pollLoop(QPointer<AppModel>(this));
}

QCoro::Task<> AppModel::pollLoop(QPointer<AppModel> model) {
    model->polling_ = true;
    while (model && !model->pollingCancelled_) {
        // No failure of one pass ends the loop; each distinct one is logged once.
        std::optional<std::string> failure;
        try {
            auto pass = model->poll();
            co_await pass;
            if (model && model->updateCheckDue()) {
                model->checkUpdates(false);
            }
        } catch (const std::exception& error) {
            failure = messageOf(error);
        }
        if (!model) {
            co_return;
        }
        if (failure && failure != model->loopFailure_) {
            model->log(QString::fromStdString(*failure));
        }
        model->loopFailure_ = failure;
        const auto pause = model->timing_.pollPause;
        co_await QCoro::sleepFor(pause);
    }
    if (model) {
        model->polling_ = false;
        emit model->pollingEnded();
    }
}

bool AppModel::updateCheckDue() const {
    return !readOnly_ && (!lastCheck_ || clock_() - *lastCheck_ >= timing_.updateInterval) && !checking_ && !operation_;
}

QCoro::Task<> AppModel::poll() {
    if (operation_) {
        co_return;
    }
    std::optional<std::string> failure;
    bool denied = false;
    try {
        auto& platform = worker_->platform();
        auto discovery = worker_->run([&platform](HIDSession&) {
            std::pair<std::vector<DeviceChoice>, std::optional<std::string>> result;
            for (const auto& device : HIDSession::discover(platform)) {
                result.first.push_back(choiceOf(device));
            }
            result.second = platform.problem();
            return result;
        });
        auto [found, problem] = co_await discovery;
        if (operation_) {
            co_return;
        }
        // A broken HID stack looks like an empty bus; say why once, not every second, and show it while it lasts.
        const auto problemText =
            problem ? std::optional(QStringLiteral("HID 不可用：") + QString::fromStdString(*problem)) : std::nullopt;
        if (problemText && problemText != hidProblem_) {
            log(*problemText);
        }
        setHidProblem(problemText);
        setDevices(found);

        if (connected_) {
            const auto it = std::find_if(found.begin(), found.end(),
                                         [this](const DeviceChoice& choice) { return choice.id == connected_->id; });
            if (it == found.end()) {
                throw UPSError("USB 已断开，等待重新连接");
            }
            if (it->bootloader != connected_->bootloader) {
                if (readOnly_ && it->bootloader) {
                    // Another program is upgrading it: a monitor keeps its hands off until it is back.
                    clearConnection();
                    setConnectionText(QStringLiteral("Bootloader 模式"));
                    auto closing = closeSession();
                    co_await closing;
                    co_return;
                }
                auto reconnect = worker_->connect(it->id);
                apply(co_await reconnect);
            }
            if (connected_ && !connected_->bootloader) {
                auto sampling = worker_->run([](HIDSession& session) { return session.snapshot(); });
                auto sample = co_await sampling;
                if (!operation_) {
                    takeSample(std::move(sample));
                }
            }
            co_return;
        }
        if (!autoConnect_) {
            co_return;
        }
        if (found.empty()) {
            setAccessDenied(false);
            setConnectionText(QStringLiteral("未连接 · 请接入 Quelmar USB"));
            co_return;
        }
        const auto selected = selectedID_.toStdString();
        auto target = std::find_if(found.begin(), found.end(),
                                   [&selected](const DeviceChoice& choice) { return choice.id == selected; });
        if (target == found.end() && found.size() == 1 && !boardPinned_) {
            target = found.begin();
        }
        if (target == found.end()) {
            setConnectionText(QStringLiteral("发现多台设备，请选择后连接"));
            co_return;
        }
        if (readOnly_ && target->bootloader) {
            setConnectionText(QStringLiteral("Bootloader 模式"));
            co_return;
        }
        auto connecting = worker_->connect(target->id);
        apply(co_await connecting);
    } catch (const std::exception& error) {
        failure = messageOf(error);
        denied = deniedAccess(error);
    }
    if (failure) {
        auto failing = pollFailure(*failure, denied);
        co_await failing;
    }
}

QCoro::Task<> AppModel::pollFailure(std::string message, bool accessDenied) {
    if (operation_) {
        co_return;
    }
    const auto text = QString::fromStdString(message);
    // A failure that repeats while no board is connected is logged once.
    if (connected_ || connectionText_ != text) {
        log(text);
    }
    clearConnection();
    setConnectionText(text);
    setAccessDenied(accessDenied);
    auto closing = closeSession();
    co_await closing;
}

QCoro::Task<> AppModel::closeSession() {
    auto closing = worker_->run([](HIDSession& session) { session.close(); });
    co_await closing;
}

// ---- connections

void AppModel::apply(const Connection& connection) {
    setConnected(connection.device);
    setSelectedID(QString::fromStdString(connection.device.id));
    setInfo(connection.info);
    setSnapshot(std::nullopt);
    setConnectionText(connection.device.bootloader ? QStringLiteral("Bootloader 模式") : QStringLiteral("已连接"));
    setAccessDenied(false);
    setHasConfig(connection.config.has_value());
    if (connection.config) {
        setCapacity(QString::number(connection.config->capacity()));
        setResistance(milliOhmsText(connection.config->resistanceMicroOhms()));
        setNominal(connection.config->nominal());
    } else {
        setCapacity(QString());
        setResistance(QString());
    }
    log(QString::fromStdString(connection.device.product) + QStringLiteral(" · ") + connectionText_ +
        QStringLiteral(" · 固件 ") +
        (connection.info ? QString::fromStdString(connection.info->software) : QStringLiteral("未知")));
    refreshFirmware();
    // A board in bootloader mode has no power to report: for monitoring it is away.
    raise(connection.device.bootloader ? powerEvents_.lost() : powerEvents_.connected());
}

void AppModel::takeSample(Snapshot sample) {
    if (history_ && connected_) {
        history_->record(HistoryBoard{connected_->id, connected_->serial}, sample);
    }
    setSnapshot(sample);
    raise(powerEvents_.sample(sample));
    emit sampleTaken(sample);
}

void AppModel::raise(const std::vector<PowerEvent>& events) {
    for (const auto event : events) {
        const auto [kind, text] = historyOf(event);
        record(kind, text);
        emit powerEventRaised(event);
    }
}

void AppModel::record(HistoryEventKind kind, const QString& text) {
    if (history_ && connected_) {
        history_->record(HistoryBoard{connected_->id, connected_->serial}, kind, text.toStdString());
    }
}

void AppModel::reportHistoryFailure(const QString& text) {
    log(text);
}

void AppModel::clearConnection() {
    // Said while the board is still known, so that the history knows whose loss it was.
    raise(powerEvents_.lost());
    setConnected(std::nullopt);
    setInfo(std::nullopt);
    setSnapshot(std::nullopt);
    setFirmwarePackage(std::nullopt);
    setHasConfig(false);
    setCapacity(QString());
    setResistance(QString());
}

QCoro::Task<> AppModel::connect() {
    if (operation_ || selectedID_.isEmpty()) {
        co_return;
    }
    autoConnect_ = true;
    auto running = runWorkflow(
        Operations::connecting, [this, id = selectedID_.toStdString()] { return connectSteps(id); },
        OnFailure::forgetBoard);
    co_await running;
}

QCoro::Task<> AppModel::connectSteps(std::string id) {
    auto connecting = worker_->connect(std::move(id));
    try {
        apply(co_await connecting);
    } catch (const std::exception& error) {
        setAccessDenied(deniedAccess(error));
        throw;
    }
}

QCoro::Task<> AppModel::disconnect() {
    if (operation_) {
        co_return;
    }
    autoConnect_ = false;
    auto running = runWorkflow(Operations::disconnecting, [this] { return disconnectSteps(); });
    co_await running;
}

QCoro::Task<> AppModel::disconnectSteps() {
    auto closing = closeSession();
    co_await closing;
    clearConnection();
    setConnectionText(QStringLiteral("已断开"));
}

// ---- battery parameters

QCoro::Task<> AppModel::writeConfig() {
    if (!canConfigure()) {
        co_return;
    }
    std::optional<BatteryConfig> config;
    try {
        config = BatteryForm::parse(capacity_.toStdString(), resistance_.toStdString(), nominal_);
    } catch (const UPSError& error) {
        fail(error.message());
        co_return;
    }
    const auto message = "容量 " + std::to_string(config->capacity()) + " mAh，内阻 " + resistance_.toStdString() +
                         " mΩ。写入后将读取设备确认。";
    if (!confirm(aboutBoard(), "写入电池参数？", message, "写入")) {
        co_return;
    }
    auto running =
        runWorkflow(Operations::writingParameters, [this, config = *config] { return writeConfigSteps(config); });
    co_await running;
}

QCoro::Task<> AppModel::writeConfigSteps(BatteryConfig config) {
    auto writing = worker_->run([config](HIDSession& session) { session.writeConfig(config); });
    co_await writing;
    log(QStringLiteral("电池参数写入及读回验证通过"));
    record(HistoryEventKind::batteryParametersWritten, QStringLiteral("电池参数写入及读回验证通过"));
}

void AppModel::postProgress(double fraction, std::optional<std::string> text) {
    MainThread::post(this, [this, fraction, text = std::move(text)] {
        setProgress(fraction);
        if (text) {
            setProgressText(QString::fromStdString(*text));
        }
    });
}

} // namespace quelmar
