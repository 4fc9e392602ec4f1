#pragma once

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QMessageBox;
class QScrollArea;

namespace quelmar {

class AppModel;
class DesktopNotifications;
class FirmwarePage;
class HistoryPage;
class MonitorPage;
class Sidebar;
class UpdatesPage;

// The one window: the sidebar beside the detail column of connection bar, page, progress strip and log.
// Closing it quits the application, except while firmware is being written.
class MainWindow final : public QMainWindow {
public:
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenu();
    QWidget* detailColumn();
    void showPage();
    void showError();
    void showMenuState();
    void refuseToQuit();

    AppModel& model_;
    Sidebar* sidebar_;
    QScrollArea* scroll_;
    QLabel* title_;
    MonitorPage* monitor_;
    FirmwarePage* firmware_;
    UpdatesPage* updates_;
    HistoryPage* history_;
    DesktopNotifications* notifications_;
    QAction* checkUpdates_;
    QPointer<QMessageBox> errorAlert_;
    QPointer<QMessageBox> quitAlert_;
};

} // namespace quelmar
