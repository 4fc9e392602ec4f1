#include "controller/AppModel.h"

#include "controller/Dialogs.h"
#include "controller/Operations.h"
#include "controller/USBWorker.h"
#include "core/BatteryForm.h"
#include "core/UPSError.h"
#include "install/AppMetadata.h"
#include "system/Files.h"

#include <algorithm>
#include <utility>

#include <qcoro/qcorotimer.h>

namespace quelmar {

namespace {

// The resistance in milliohms with exactly three decimals, from whole micro-ohms: exact, whatever the locale.
QString milliOhmsText(std::int64_t microOhms) {
    return QStringLiteral("%1.%2").arg(microOhms / 1000).arg(microOhms % 1000, 3, 10, QLatin1Char('0'));
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
    , worker_(std::make_unique<USBWorker>(*setup.platform, this, timing_.bootReplyDeadline))
    , updates_(std::make_unique<UpdateService>(std::move(setup.updates))) {}

AppModel::~AppModel() = default;

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

void AppModel::derivedMayHaveChanged() {
    if (flashingWas_ != flashing()) {
        flashingWas_ = flashing();
        emit flashingChanged();
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
        Files::writeAtomically(*destination, logs_.exportText());
    } catch (const std::exception& error) {
        fail(messageOf(error));
    }
}

void AppModel::fail(const std::string& message) {
    log(QString::fromStdString(message));
    setErrorMessage(QString::fromStdString(message));
}

// ---- start and the poll loop

void AppModel::start() {
    if (started_) {
        return;
    }
    started_ = true;
    log(QStringLiteral("Quelmar 原生版 ") + QString::fromStdString(version_));
    NativeInstaller::acknowledgeLaunch(arguments_);
    checkUpdates(false);
    pollLoop(QPointer<AppModel>(this));
}

QCoro::Task<> AppModel::pollLoop(QPointer<AppModel> model) {
    model->polling_ = true;
    while (model && !model->pollingCancelled_) {
        auto pass = model->poll();
        co_await pass;
        if (model->updateCheckDue()) {
            model->checkUpdates(false);
        }
        const auto pause = model->timing_.pollPause;
        co_await QCoro::sleepFor(pause);
    }
    if (model) {
        model->polling_ = false;
    }
}

bool AppModel::updateCheckDue() const {
    return (!lastCheck_ || clock_() - *lastCheck_ >= timing_.updateInterval) && !checking_ && !operation_;
}

QCoro::Task<> AppModel::poll() {
    if (operation_) {
        co_return;
    }
    std::optional<std::string> failure;
    try {
        auto& platform = worker_->platform();
        auto discovery = worker_->run([&platform](HIDSession&) {
            std::pair<std::vector<DeviceChoice>, std::optional<std::string>> result;
            for (const auto& device : HIDSession::discover(platform)) {
                result.first.push_back(DeviceChoice::from(device));
            }
            result.second = platform.problem();
            return result;
        });
        auto [found, problem] = co_await discovery;
        if (operation_) {
            co_return;
        }
        // A broken HID stack looks like an empty bus; say why once, not every second.
        if (problem != platformProblem_) {
            platformProblem_ = problem;
            if (problem) {
                log(QStringLiteral("HID 不可用：") + QString::fromStdString(*problem));
            }
        }
        setDevices(found);

        if (connected_) {
            const auto it = std::find_if(found.begin(), found.end(),
                                         [this](const DeviceChoice& choice) { return choice.id == connected_->id; });
            if (it == found.end()) {
                throw UPSError("USB 已断开，等待重新连接");
            }
            if (it->bootloader != connected_->bootloader) {
                auto reconnect = worker_->connect(it->id);
                apply(co_await reconnect);
            }
            if (connected_ && !connected_->bootloader) {
                auto sampling = worker_->run([](HIDSession& session) { return session.snapshot(); });
                auto sample = co_await sampling;
                if (!operation_) {
                    setSnapshot(std::move(sample));
                }
            }
            co_return;
        }
        if (!autoConnect_) {
            co_return;
        }
        if (found.empty()) {
            setConnectionText(QStringLiteral("未连接 · 请接入 Quelmar USB"));
            co_return;
        }
        const auto selected = selectedID_.toStdString();
        auto target = std::find_if(found.begin(), found.end(),
                                   [&selected](const DeviceChoice& choice) { return choice.id == selected; });
        if (target == found.end() && found.size() == 1) {
            target = found.begin();
        }
        if (target == found.end()) {
            setConnectionText(QStringLiteral("发现多台设备，请选择后连接"));
            co_return;
        }
        auto connecting = worker_->connect(target->id);
        apply(co_await connecting);
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        auto failing = pollFailure(*failure);
        co_await failing;
    }
}

QCoro::Task<> AppModel::pollFailure(std::string message) {
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
}

void AppModel::clearConnection() {
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
    setOperation(Operations::connecting);
    autoConnect_ = true;
    std::optional<std::string> failure;
    try {
        auto connecting = worker_->connect(selectedID_.toStdString());
        apply(co_await connecting);
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        clearConnection();
        fail(*failure);
    }
    setOperation(std::nullopt);
}

QCoro::Task<> AppModel::disconnect() {
    if (operation_) {
        co_return;
    }
    autoConnect_ = false;
    setOperation(Operations::disconnecting);
    auto closing = closeSession();
    co_await closing;
    clearConnection();
    setConnectionText(QStringLiteral("已断开"));
    setOperation(std::nullopt);
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
    if (!dialogs_.confirm("写入电池参数？", message, "写入") || !canConfigure()) {
        co_return;
    }
    setOperation(Operations::writingParameters);
    std::optional<std::string> failure;
    try {
        auto writing = worker_->run([config = *config](HIDSession& session) { session.writeConfig(config); });
        co_await writing;
        log(QStringLiteral("电池参数写入及读回验证通过"));
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        fail(*failure);
    }
    setOperation(std::nullopt);
}

void AppModel::postProgress(double fraction, std::optional<std::string> text) {
    QMetaObject::invokeMethod(
        this,
        [this, fraction, text = std::move(text)] {
            setProgress(fraction);
            if (text) {
                setProgressText(QString::fromStdString(*text));
            }
        },
        Qt::QueuedConnection);
}

} // namespace quelmar
