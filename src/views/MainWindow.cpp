#include "views/MainWindow.h"

#include "controller/AppModel.h"
#include "views/ConnectionBar.h"
#include "views/DesktopNotifications.h"
#include "views/Display.h"
#include "views/FirmwarePage.h"
#include "views/HistoryPage.h"
#include "views/Icons.h"
#include "views/LogPane.h"
#include "views/MonitorPage.h"
#include "views/Panel.h"
#include "views/ProgressStrip.h"
#include "views/QtDialogs.h"
#include "views/Sidebar.h"
#include "views/Theme.h"
#include "views/UpdatesPage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace quelmar {

MainWindow::MainWindow(AppModel& model, QWidget* parent)
    : QMainWindow(parent)
    , model_(model) {
    setWindowTitle(QStringLiteral("Quelmar"));
    setWindowIcon(Icons::application());
    resize(1040, 780);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    sidebar_ = new Sidebar(model_);
    split->addWidget(sidebar_);
    split->addWidget(detailColumn());
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({205, 835});
    split->setMinimumSize(940, 690);
    setCentralWidget(split);
    buildMenu();

    // The desktop hears of the board's power from the window only: the headless mode has its own ways to say it.
    notifications_ = new DesktopNotifications(QDBusConnection::sessionBus(), {}, this);
    new PowerNotifications(model_, *notifications_, this);

    QObject::connect(sidebar_, &Sidebar::pageChanged, this, &MainWindow::showPage);
    QObject::connect(&model_, &AppModel::errorMessageChanged, this, &MainWindow::showError);
    QObject::connect(&model_, &AppModel::checkingChanged, this, &MainWindow::showMenuState);
    QObject::connect(&model_, &AppModel::operationChanged, this, &MainWindow::showMenuState);
    showPage();
    showMenuState();
    Theme::refresh(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu() {
    auto* menu = menuBar()->addMenu(QStringLiteral("Quelmar"));
    auto* about = menu->addAction(QStringLiteral("关于 Quelmar"));
    checkUpdates_ = menu->addAction(QStringLiteral("检查客户端更新…"));
    menu->addSeparator();
    auto* quit = menu->addAction(QStringLiteral("退出 Quelmar"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    about->setMenuRole(QAction::AboutRole);

    QObject::connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QStringLiteral("关于 Quelmar"),
                           QStringLiteral("Quelmar for Linux\n") + Display::platformEdition(model_.version()));
    });
    QObject::connect(checkUpdates_, &QAction::triggered, this, [this] { model_.checkUpdates(true); });
    QObject::connect(quit, &QAction::triggered, this, [] { QApplication::quit(); });
}

QWidget* MainWindow::detailColumn() {
    auto* detail = new QWidget;
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new ConnectionBar(model_));
    column->addWidget(new Divider);

    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(22, 22, 22, 22);
    stack->setSpacing(18);
    title_ = Theme::label(QString(), Theme::Style::largeTitle);
    stack->addWidget(title_);
    monitor_ = new MonitorPage(model_);
    firmware_ = new FirmwarePage(model_);
    updates_ = new UpdatesPage(model_);
    history_ = new HistoryPage(model_);
    for (auto* page : std::initializer_list<QWidget*>{monitor_, firmware_, updates_, history_}) {
        stack->addWidget(page);
    }
    stack->addStretch();
    scroll_ = new QScrollArea;
    scroll_->setWidget(content);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(scroll_, 1);

    column->addWidget(new ProgressStrip(model_));
    column->addWidget(new Divider);
    column->addWidget(new LogPane(model_));
    return detail;
}

void MainWindow::showPage() {
    const auto page = sidebar_->page();
    title_->setText(Display::title(page));
    const auto shown = page.value_or(Display::Page::monitor);
    monitor_->setVisible(shown == Display::Page::monitor);
    firmware_->setVisible(shown == Display::Page::firmware);
    updates_->setVisible(shown == Display::Page::updates);
    history_->setVisible(shown == Display::Page::history);
    scroll_->verticalScrollBar()->setValue(0);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    model_.start();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!model_.flashing()) {
        event->accept();
        return;
    }
    event->ignore();
    refuseToQuit();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        Theme::refresh(this);
    }
}

void MainWindow::refuseToQuit() {
    if (quitAlert_ && quitAlert_->isVisible()) {
        quitAlert_->raise();
        return;
    }
    quitAlert_ = new QMessageBox(QMessageBox::Information, QStringLiteral("正在烧录固件"),
                                 QStringLiteral("正在烧录固件"), QMessageBox::Ok, this);
    quitAlert_->setInformativeText(QStringLiteral("请等待烧录和校验完成后再退出。"));
    quitAlert_->setAttribute(Qt::WA_DeleteOnClose);
    widen(*quitAlert_); // after the texts: setting the first informative text lays the box out anew
    quitAlert_->open();
}

void MainWindow::showError() {
    const auto& message = model_.errorMessage();
    if (!message) {
        if (errorAlert_) {
            errorAlert_->close();
        }
        return;
    }
    // A box that was just dismissed is still there until it is deleted: the next message gets a new one.
    if (!errorAlert_ || !errorAlert_->isVisible()) {
        errorAlert_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("操作未完成"), QStringLiteral("操作未完成"),
                                      QMessageBox::NoButton, this);
        errorAlert_->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
        errorAlert_->setAttribute(Qt::WA_DeleteOnClose);
        // The first informative text lays the box out anew: widened after it, as the confirmations are.
        errorAlert_->setInformativeText(*message);
        widen(*errorAlert_);
        // However it is dismissed, the message is cleared, so that the next failure shows again.
        QObject::connect(errorAlert_, &QMessageBox::finished, this, [this] { model_.setErrorMessage(std::nullopt); });
        errorAlert_->open();
    }
    errorAlert_->setInformativeText(*message);
    widen(*errorAlert_);
}

void MainWindow::showMenuState() {
    checkUpdates_->setEnabled(!model_.checking() && !model_.operation());
}

} // namespace quelmar
