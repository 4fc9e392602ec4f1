#pragma once

#include "controller/DeviceChoice.h"
#include "controller/LogList.h"
#include "controller/Timing.h"
#include "core/DeviceInfo.h"
#include "core/FirmwareImage.h"
#include "core/PowerEvents.h"
#include "core/Snapshot.h"
#include "core/UpdateFeed.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

namespace quelmar {

class Dialogs;
class HistoryRecorder;
class Transients;
enum class HistoryEventKind;
class UpdateService;
class USBWorker;
struct StagedUpdate;
namespace MainThread {
template <typename T>
class Pending;
}

// The application's one controller: the state the window shows, the log, and every workflow. Lives on the Qt main
// thread and is only touched there. Device work runs on its USB worker, network work on its update service; both
// resume the awaiting workflow on the main thread.
//
// The controller may be destroyed at any time: its workflows and its poll loop hold it weakly and end where they
// next resume; what a workflow had downloaded or staged is removed with it.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<quelmar::DeviceChoice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QString selectedID READ selectedID WRITE setSelectedID NOTIFY selectedIDChanged)
    Q_PROPERTY(std::optional<quelmar::DeviceChoice> connected READ connected NOTIFY connectedChanged)
    Q_PROPERTY(std::optional<quelmar::DeviceInfo> info READ info NOTIFY infoChanged)
    Q_PROPERTY(std::optional<quelmar::Snapshot> snapshot READ snapshot NOTIFY snapshotChanged)
    Q_PROPERTY(QString capacity READ capacity WRITE setCapacity NOTIFY capacityChanged)
    Q_PROPERTY(QString resistance READ resistance WRITE setResistance NOTIFY resistanceChanged)
    Q_PROPERTY(qint64 nominal READ nominal WRITE setNominal NOTIFY nominalChanged)
    Q_PROPERTY(std::optional<QString> operation READ operation NOTIFY operationChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressTextChanged)
    Q_PROPERTY(QString connectionText READ connectionText NOTIFY connectionTextChanged)
    Q_PROPERTY(QString updateText READ updateText NOTIFY updateTextChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(std::optional<quelmar::UpdatePackage> update READ update NOTIFY updateChanged)
    Q_PROPERTY(std::optional<quelmar::UpdatePackage> firmwarePackage READ firmwarePackage NOTIFY firmwarePackageChanged)
    Q_PROPERTY(QString firmwareName READ firmwareName NOTIFY firmwareNameChanged)
    Q_PROPERTY(qint64 firmwareBytes READ firmwareBytes NOTIFY firmwareBytesChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasConfig READ hasConfig NOTIFY hasConfigChanged)
    Q_PROPERTY(bool flashing READ flashing NOTIFY flashingChanged)
    Q_PROPERTY(bool canConfigure READ canConfigure NOTIFY canConfigureChanged)
    Q_PROPERTY(bool accessDenied READ accessDenied NOTIFY accessDeniedChanged)
    Q_PROPERTY(std::optional<QString> hidProblem READ hidProblem NOTIFY hidProblemChanged)
    Q_PROPERTY(std::optional<QString> installNotice READ installNotice NOTIFY installNoticeChanged)

public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using Timing = ControllerTiming;
    // What the controller works with (controller/AppModelSetup.h).
    struct Setup;

    static constexpr qint64 maxFirmwareFile = 2097152;

    explicit AppModel(Setup setup, QObject* parent = nullptr);
    ~AppModel() override;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Published state.
    const std::vector<DeviceChoice>& devices() const { return devices_; }
    const QString& selectedID() const { return selectedID_; }
    void setSelectedID(const QString& id);
    const std::optional<DeviceChoice>& connected() const { return connected_; }
    const std::optional<DeviceInfo>& info() const { return info_; }
    const std::optional<Snapshot>& snapshot() const { return snapshot_; }
    const QString& capacity() const { return capacity_; }
    void setCapacity(const QString& text);
    const QString& resistance() const { return resistance_; }
    void setResistance(const QString& text);
    qint64 nominal() const { return nominal_; }
    void setNominal(qint64 code);
    LogList& logs() { return logs_; }
    const LogList& logs() const { return logs_; }
    const std::optional<QString>& operation() const { return operation_; }
    double progress() const { return progress_; }
    const QString& progressText() const { return progressText_; }
    const QString& connectionText() const { return connectionText_; }
    const QString& updateText() const { return updateText_; }
    bool checking() const { return checking_; }
    const std::optional<UpdatePackage>& update() const { return update_; }
    const std::optional<UpdatePackage>& firmwarePackage() const { return firmwarePackage_; }
    const QString& firmwareName() const { return firmwareName_; }
    qint64 firmwareBytes() const { return firmwareBytes_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    // The window clears it when the person dismisses the alert.
    void setErrorMessage(const std::optional<QString>& message);
    bool hasConfig() const { return hasConfig_; }

    // True exactly while firmware is being written.
    bool flashing() const;
    // Whether the battery form may be edited and written.
    bool canConfigure() const;
    // The last connection failed because the system denied access to the board (no udev rule).
    bool accessDenied() const { return accessDenied_; }
    // Why the HID stack cannot list boards, while it cannot.
    const std::optional<QString>& hidProblem() const { return hidProblem_; }
    // What happened to the last client update when it was rolled back, once, after the restored client started.
    const std::optional<QString>& installNotice() const { return installNotice_; }

    // Plain state.
    const std::optional<UpdateFeed>& feed() const { return feed_; }
    const std::optional<FirmwareImage>& image() const { return image_; }
    const std::optional<std::string>& imageDeviceID() const { return imageDeviceID_; }
    bool autoConnect() const { return autoConnect_; }
    const std::optional<std::chrono::system_clock::time_point>& lastCheck() const { return lastCheck_; }
    const std::string& version() const { return version_; }
    // The telemetry history's file; none when nothing is recorded.
    const std::optional<std::filesystem::path>& historyFile() const { return historyFile_; }
    // The controller's clock, which stamps the log and the history.
    std::chrono::system_clock::time_point now() const { return clock_(); }
    Dialogs& dialogs() const { return dialogs_; }

    void log(const QString& text);
    void clearLogs();
    // Asks where to save the log and writes it there.
    void exportLogs();

    // Workflows. Each returns at once with its task running on the main thread; callers may drop the task.
    // The first call logs the start, acknowledges a launch by the installer, tidies what earlier updates left,
    // checks for updates and starts polling.
    void start();
    QCoro::Task<> connect();
    QCoro::Task<> disconnect();
    QCoro::Task<> writeConfig();
    void chooseFirmware();
    QCoro::Task<> enterBootloader();
    QCoro::Task<> runApp();
    QCoro::Task<> flash();
    QCoro::Task<> downloadFirmware();
    QCoro::Task<> updateClicked();
    QCoro::Task<> checkUpdates(bool manual);

    // A request to end the application (a signal named why): at once, or once the firmware being written has been
    // verified.
    void quitWhenSafe(const QString& why);

    // Ends the poll loop at its next turn; polling() turns false once it has ended.
    void stopPolling() { pollingCancelled_ = true; }
    bool polling() const { return polling_; }
    // One pass of the poll loop; the loop calls it once a second.
    QCoro::Task<> poll();
    // Recomputes the online firmware offer for the connected board.
    void refreshFirmware();

signals:
    // The poll loop has ended (after stopPolling, or with the controller).
    void pollingEnded();
    void devicesChanged();
    void selectedIDChanged();
    void connectedChanged();
    void infoChanged();
    void snapshotChanged();
    void capacityChanged();
    void resistanceChanged();
    void nominalChanged();
    void operationChanged();
    void progressChanged();
    void progressTextChanged();
    void connectionTextChanged();
    void updateTextChanged();
    void checkingChanged();
    void updateChanged();
    void firmwarePackageChanged();
    void firmwareNameChanged();
    void firmwareBytesChanged();
    void errorMessageChanged();
    void hasConfigChanged();
    void flashingChanged();
    void canConfigureChanged();
    void accessDeniedChanged();
    void hidProblemChanged();
    void installNoticeChanged();
    // What happened to the connected board's power, once per change: connected, lost, mains lost and restored,
    // battery low, shutdown imminent.
    void powerEventRaised(quelmar::PowerEvent event);
    // Every sample of the connected board, also one equal to the last, after the power events it raised.
    void sampleTaken(const quelmar::Snapshot& sample);

private:
    // What a workflow does with the connection when it fails, besides reporting the message.
    enum class OnFailure { keepBoard, forgetBoard, forgetBoardAndClose };

    // Runs one workflow's steps under its operation: refused while another runs, a failure logged and shown, the
    // operation cleared on every path. Holds the controller only weakly: when it is gone the steps end unreported.
    QCoro::Task<> runWorkflow(QString operation, std::function<QCoro::Task<>()> steps,
                              OnFailure onFailure = OnFailure::keepBoard);
    // What a workflow asked the person about, noted before a dialog or a long wait: the operation running then
    // (none before the workflow has started) and, when it is about a board, that board in its mode.
    struct Agreement {
        std::optional<QString> operation;
        bool aboutBoard = false;
        std::optional<DeviceChoice> board;
    };
    Agreement aboutBoard() const { return {operation_, true, connected_}; }
    Agreement aboutOperation() const { return {operation_, false, std::nullopt}; }
    // The one re-check after every dialog and every long wait: nothing it was about has changed meanwhile.
    bool holds(const Agreement& agreement) const;
    // Asks the person; true only when they agreed and the agreement still holds once the dialog has closed.
    bool confirm(const Agreement& agreement, const std::string& title, const std::string& message,
                 const std::string& button);

    static QCoro::Task<> pollLoop(QPointer<AppModel> model);
    QCoro::Task<> pollFailure(std::string message, bool accessDenied);
    // Closes the board's session on the worker; closing never fails.
    QCoro::Task<> closeSession();
    // Waits for the board with this id to come back in this mode, and connects to it.
    QCoro::Task<Connection> waitForMode(std::string id, bool boot);
    // Whether the board with this id is on the bus (in this mode, when given).
    MainThread::Pending<bool> listed(std::string id, std::optional<bool> boot = std::nullopt);
    // Makes a validated image the one flash() writes, for the board with this id (none: any board).
    void useImage(FirmwareImage image, std::optional<std::string> deviceID, const QString& name);
    // The steps of the workflows.
    QCoro::Task<> connectSteps(std::string id);
    QCoro::Task<> disconnectSteps();
    QCoro::Task<> writeConfigSteps(BatteryConfig config);
    QCoro::Task<> restartSteps(bool intoBootloader, std::string id);
    QCoro::Task<> flashSteps(FirmwareImage image, std::string id);
    QCoro::Task<> downloadFirmwareSteps(UpdatePackage package, std::string id);
    QCoro::Task<> updateClientSteps(UpdatePackage package, std::filesystem::path target);
    QCoro::Task<std::filesystem::path> download(UpdatePackage package);
    QCoro::Task<> tidyEarlierUpdates();

    void apply(const Connection& connection);
    void clearConnection();
    // A new sample of the connected board: shown, recorded, and its power events raised.
    void takeSample(Snapshot sample);
    void raise(const std::vector<PowerEvent>& events);
    // Writes an event of the connected board (or the one given) into the history, when there is one.
    void record(HistoryEventKind kind, const QString& text);
    void reportHistoryFailure(const QString& text);
    // Logs a failed workflow's message and shows it.
    void fail(const std::string& message);
    bool updateCheckDue() const;
    // Forwards a workflow's progress from another thread to the main thread, one event per report.
    void postProgress(double fraction, std::optional<std::string> text);

    void setDevices(std::vector<DeviceChoice> devices);
    void setConnected(std::optional<DeviceChoice> device);
    void setInfo(std::optional<DeviceInfo> info);
    void setSnapshot(std::optional<Snapshot> snapshot);
    void setOperation(std::optional<QString> operation);
    void setProgress(double progress);
    void setProgressText(const QString& text);
    void setConnectionText(const QString& text);
    void setUpdateText(const QString& text);
    void setChecking(bool checking);
    void setUpdate(std::optional<UpdatePackage> update);
    void setFirmwarePackage(std::optional<UpdatePackage> package);
    void setFirmwareName(const QString& name);
    void setFirmwareBytes(qint64 bytes);
    void setHasConfig(bool hasConfig);
    void setAccessDenied(bool denied);
    void setHidProblem(std::optional<QString> problem);
    void setInstallNotice(std::optional<QString> notice);
    // Stores a published property and emits its signal, and those of the derived properties, when it changed.
    template <typename T, typename U>
    void change(T& field, U&& value, void (AppModel::*changed)()) {
        if (field == value) {
            return;
        }
        field = std::forward<U>(value);
        emit(this->*changed)();
        derivedMayHaveChanged();
    }
    void derivedMayHaveChanged();

    std::vector<DeviceChoice> devices_;
    QString selectedID_;
    std::optional<DeviceChoice> connected_;
    std::optional<DeviceInfo> info_;
    std::optional<Snapshot> snapshot_;
    QString capacity_;
    QString resistance_;
    qint64 nominal_ = 2;
    LogList logs_;
    std::optional<QString> operation_;
    double progress_ = 0;
    QString progressText_;
    QString connectionText_;
    QString updateText_;
    bool checking_ = false;
    std::optional<UpdatePackage> update_;
    std::optional<UpdatePackage> firmwarePackage_;
    QString firmwareName_;
    qint64 firmwareBytes_ = 0;
    std::optional<QString> errorMessage_;
    bool hasConfig_ = false;
    bool accessDenied_ = false;
    std::optional<QString> hidProblem_;
    std::optional<QString> installNotice_;
    bool flashingWas_ = false;
    bool canConfigureWas_ = false;

    std::optional<UpdateFeed> feed_;
    std::optional<FirmwareImage> image_;
    std::optional<std::string> imageDeviceID_;
    bool started_ = false;
    bool autoConnect_ = true;
    bool polling_ = false;
    bool pollingCancelled_ = false;
    bool quitDeferred_ = false;
    std::optional<std::string> loopFailure_; // the last failure of the poll loop itself, logged once
    PowerEvents powerEvents_;
    std::optional<std::chrono::system_clock::time_point> lastCheck_; // none: never, the distant past

    Dialogs& dialogs_;
    const Timing timing_;
    const Clock clock_;
    const std::vector<std::string> arguments_;
    const std::string version_;
    const std::function<std::filesystem::path()> installTarget_;
    const std::function<void(const StagedUpdate&)> launchInstaller_;
    const std::filesystem::path updatesDirectory_;
    const std::optional<std::filesystem::path> historyFile_;
    // Only looks: never connects to a board in bootloader mode, never checks for or tidies updates.
    const bool readOnly_;
    // Connects to the selected board only, never to another that happens to be alone on the bus.
    const bool boardPinned_;
    // Files a running workflow downloaded or staged; whatever is left when the controller goes is removed.
    const std::shared_ptr<Transients> transients_;
    // Both own threads that post back to this object; they are destroyed, and their threads joined, first.
    std::unique_ptr<USBWorker> worker_;
    std::unique_ptr<UpdateService> updates_;
    std::unique_ptr<HistoryRecorder> history_; // none: nothing is recorded
};

} // namespace quelmar
