#include "ControllerFixture.h"
#include "HexFixtures.h"
#include "controller/HistoryModel.h"
#include "core/StatusBits.h"
#include "views/Display.h"
#include "views/HistoryChart.h"
#include "views/HistoryPage.h"
#include "views/MainWindow.h"
#include "views/QtDialogs.h"
#include "views/Theme.h"
#include "views/UpdatesPage.h"

#include <algorithm>
#include <filesystem>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gmock/gmock.h>
#include <sys/stat.h>

using namespace quelmar;
using namespace quelmar::test;
using Theme::Tone;

namespace {

constexpr std::uint32_t appStart = 0x08003000;

class Window : public ControllerTest {
protected:
    ~Window() override {
        window.reset();
        QApplication::setPalette(QPalette());
    }

    void open(std::vector<BoardDescription> boards) {
        make(std::move(boards));
        show();
    }
    void show() {
        window = std::make_unique<MainWindow>(*model);
        window->show();
    }

    template <typename T>
    T* find(const QString& text) const {
        for (auto* widget : window->findChildren<T*>()) {
            if (widget->text() == text) {
                return widget;
            }
        }
        return nullptr;
    }
    QAbstractButton* button(const QString& text) const { return find<QAbstractButton>(text); }
    QLabel* label(const QString& text) const { return find<QLabel>(text); }
    template <typename T>
    T* named(const QString& name) const {
        for (auto* widget : window->findChildren<T*>()) {
            if (widget->accessibleName() == name) {
                return widget;
            }
        }
        return nullptr;
    }
    QToolButton* updateButton() const {
        auto* found = named<QToolButton>("检查客户端更新");
        return found ? found : named<QToolButton>("发现客户端更新");
    }
    QAction* menuCommand(const QString& text) const {
        for (auto* menu : window->menuBar()->findChildren<QMenu*>()) {
            for (auto* action : menu->actions()) {
                if (action->text() == text) {
                    return action;
                }
            }
        }
        return nullptr;
    }
    bool shown(const QWidget* widget) const { return widget && widget->isVisibleTo(window.get()); }
    bool enabled(const QString& buttonText) const {
        auto* found = button(buttonText);
        EXPECT_TRUE(found) << buttonText.toStdString();
        return found && found->isEnabled();
    }
    static QColor textColour(const QWidget* widget) { return widget->palette().color(QPalette::WindowText); }

    void showPage(std::optional<Display::Page> page) {
        auto* list = window->findChild<QListWidget*>();
        if (page) {
            list->setCurrentRow(static_cast<int>(*page));
        } else {
            list->clearSelection();
        }
    }
    bool sampled() {
        return waitUntil([this] { return model->snapshot().has_value(); });
    }
    void click(const QString& buttonText) {
        auto* found = button(buttonText);
        ASSERT_TRUE(found) << buttonText.toStdString();
        found->click();
    }
    std::filesystem::path hexFile(std::size_t bytes) {
        const auto file = home / "app.hex";
        writeFile(file, intelHex(appStart, patternBytes(bytes)));
        return file;
    }
    // The window as a person would see it, for looking at: build/tests/views/screenshots/NAME.png.
    void screenshot(const std::string& name) {
        QTest::qWait(50);
        const std::filesystem::path folder = QUELMAR_SCREENSHOTS;
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(window->grab().save(QString::fromStdString((folder / (name + ".png")).string())));
    }
    // The modal box the window shows now, if any.
    QMessageBox* alert() const {
        for (auto* box : window->findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                return box;
            }
        }
        return nullptr;
    }

    std::unique_ptr<MainWindow> window;
};

// A dark desktop palette: its disabled texts grey, its link colour the light palette's blue.
QPalette darkPalette() {
    QPalette dark(QColor(0x2b, 0x2b, 0x2e), QColor(0x1f, 0x1f, 0x22));
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
            dark.setColor(group, role, QColor(0xe8, 0xe8, 0xea));
        }
    }
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        dark.setColor(QPalette::Disabled, role, QColor(0x6e, 0x6e, 0x74));
    }
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x90));
    dark.setColor(QPalette::Link, QColor(0x00, 0x00, 0xff));
    return dark;
}

BoardDescription bootBoard() {
    auto board = testBoard();
    board.bootloader = true;
    return board;
}

} // namespace

TEST_F(Window, MonitorShowsTheSampleAndWritesTheBatteryForm) {
    auto board = testBoard();
    board.telemetry.load = 57;
    board.telemetry.batteryCurrent = -1.5;
    board.telemetry.status = 0x0081;
    open({board});
    ASSERT_TRUE(sampled());
    EXPECT_TRUE(shown(label("87%")));
    EXPECT_TRUE(shown(label("预计续航 2 小时 32 分钟")));
    EXPECT_TRUE(shown(label("57 %")));
    EXPECT_TRUE(shown(label("-18.27 W")));
    EXPECT_TRUE(shown(label("25.28 W"))) << "input power, 12.04 V × 2.1 A";
    auto* status = label("市电供电 · 过载");
    ASSERT_TRUE(shown(status));
    EXPECT_EQ(textColour(status), Theme::colour(Tone::orange));
    EXPECT_FALSE(shown(label("接入 USB 后自动读取数据；多台设备时请先选择目标。")));
    EXPECT_TRUE(shown(label("Quelmar DC UPS")));
    EXPECT_TRUE(shown(label("已连接 · QM1")));
    EXPECT_TRUE(shown(label("HW 1.2 · FW 1.0.8")));
    EXPECT_TRUE(shown(button("断开")));
    EXPECT_EQ(textColour(label("USB 已连接")), Theme::colour(Tone::mint));
    screenshot("monitor");

    auto* capacity = named<QLineEdit>("容量 · mAh");
    auto* nominal = named<QComboBox>("标称电压");
    ASSERT_TRUE(capacity && nominal);
    EXPECT_EQ(capacity->text(), "2600");
    EXPECT_EQ(named<QLineEdit>("内阻 · mΩ")->text(), "45.000");
    EXPECT_EQ(nominal->currentText(), "3.7 V");
    EXPECT_EQ(capacity->placeholderText(), "—");
    capacity->selectAll();
    QTest::keyClicks(capacity, "3000");
    EXPECT_EQ(model->capacity(), "3000");
    QTest::keyClick(nominal, Qt::Key_Up);
    EXPECT_EQ(model->nominal(), 1);
    EXPECT_EQ(nominal->currentText(), "3.65 V");
    click("写入设备");
    ASSERT_TRUE(waitUntil([&] { return logTexts().back() == "电池参数写入及读回验证通过"; }));
    EXPECT_EQ(platform->withBoard(0, [](EmulatedBoard& b) { return b.storedConfig(); }),
              (StoredConfig{3000, 45000, 1}));
    EXPECT_TRUE(capacity->isEnabled());

    click("断开");
    ASSERT_TRUE(waitUntil([&] { return !model->connected() && !model->operation(); }));
    EXPECT_FALSE(capacity->isEnabled());
    EXPECT_FALSE(button("写入设备")->isEnabled());
    EXPECT_EQ(capacity->text(), "");
    EXPECT_TRUE(shown(label("接入 USB 后自动读取数据；多台设备时请先选择目标。")));
    EXPECT_TRUE(shown(label("已断开")));
    EXPECT_EQ(textColour(label("未连接设备")), Theme::colour(Tone::secondary));
}

TEST_F(Window, PickerStartsOnChooseADeviceAndConnectsTheChosenBoard) {
    open({testBoard(0x01100000, "QM1"), testBoard(0x01200000, "QM2")});
    ASSERT_TRUE(waitUntil([&] { return model->devices().size() == 2; }));
    auto* picker = named<QComboBox>("设备");
    ASSERT_TRUE(shown(picker));
    EXPECT_EQ(picker->currentText(), "选择设备");
    EXPECT_EQ(picker->itemText(2), "Quelmar DC UPS QM2");
    EXPECT_LE(picker->maximumWidth(), 230);
    EXPECT_FALSE(enabled("连接"));
    EXPECT_FALSE(shown(button("断开")));

    QTest::keyClick(picker, Qt::Key_Down);
    QTest::keyClick(picker, Qt::Key_Down);
    EXPECT_EQ(model->selectedID().toStdString(), idOf(0x01200000));
    EXPECT_TRUE(enabled("连接"));
    click("连接");
    ASSERT_TRUE(waitUntil([&] { return model->connected() && !model->operation(); }));
    EXPECT_EQ(model->connected()->serial, "QM2");
    EXPECT_FALSE(shown(picker));
    EXPECT_TRUE(shown(button("断开")));
}

TEST_F(Window, BootloaderBoardEnablesFlashingOnceAnImageIsChosen) {
    auto board = bootBoard();
    board.faults.delayMilliseconds = 10;
    open({board});
    ASSERT_TRUE(waitUntil([&] { return model->connected().has_value(); }));
    EXPECT_TRUE(shown(label("固件升级模式")));
    EXPECT_TRUE(shown(label("Bootloader")));
    EXPECT_FALSE(named<QLineEdit>("容量 · mAh")->isEnabled());
    EXPECT_FALSE(enabled("写入设备"));

    showPage(Display::Page::firmware);
    EXPECT_TRUE(shown(label("升级 Quelmar 设备固件")));
    EXPECT_FALSE(enabled("进入 Bootloader"));
    EXPECT_TRUE(enabled("返回 APP"));
    EXPECT_FALSE(enabled("开始烧录")) << "no image chosen";
    EXPECT_TRUE(shown(label("尚未选择 APP 固件")));
    for (auto* each : window->findChildren<QLabel*>()) {
        EXPECT_FALSE(shown(each) && each->text().contains("字节")) << "no size line without an image";
    }
    dialogs.fileToOpen = hexFile(2000);
    click("选择 HEX 文件…");
    EXPECT_TRUE(shown(label("app.hex")));
    EXPECT_TRUE(shown(label("2000 字节 · HEX 地址和校验和已验证")));
    EXPECT_TRUE(enabled("开始烧录"));

    // Flashing: every control that starts something is disabled, the bar shows, and the window refuses to close.
    click("开始烧录");
    ASSERT_TRUE(waitUntil([&] { return model->flashing() && model->progress() > 0.2; }));
    for (const auto* text : {"进入 Bootloader", "开始烧录", "返回 APP", "选择 HEX 文件…", "写入设备"}) {
        EXPECT_FALSE(button(QString::fromUtf8(text))->isEnabledTo(window.get())) << text;
    }
    EXPECT_FALSE(updateButton()->isEnabled());
    EXPECT_FALSE(menuCommand("检查客户端更新…")->isEnabled());
    auto* bar = window->findChild<QProgressBar*>();
    EXPECT_TRUE(shown(bar));
    EXPECT_TRUE(shown(label(model->progressText())));
    screenshot("firmware");

    EXPECT_FALSE(window->close());
    auto* refusal = alert();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text(), "正在烧录固件");
    EXPECT_EQ(refusal->informativeText(), "请等待烧录和校验完成后再退出。");
    refusal->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(window->isVisible());
    // Quitting the application asks the window to close first, so the menu's quit is refused the same way.
    QTimer::singleShot(0, [] { QApplication::quit(); });
    QTimer::singleShot(100, [] { QApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 7);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(alert());
    alert()->button(QMessageBox::Ok)->click();

    ASSERT_TRUE(waitUntil([&] { return !model->operation(); }, 20000));
    ASSERT_TRUE(model->connected());
    EXPECT_FALSE(model->connected()->bootloader);
    EXPECT_FALSE(shown(bar));
    EXPECT_TRUE(enabled("进入 Bootloader"));
    EXPECT_FALSE(enabled("返回 APP"));
    EXPECT_FALSE(enabled("开始烧录"));

    // Any other workflow shows its name beside a spinner and does not hold the window open.
    click("进入 Bootloader");
    ASSERT_TRUE(waitUntil([&] { return model->operation().has_value(); }));
    EXPECT_TRUE(shown(label("进入 Bootloader")));
    EXPECT_FALSE(shown(bar));
    EXPECT_TRUE(window->close());
}

TEST_F(Window, UpdateBadgeTooltipAndUpdatesPage) {
    HttpsServer server;
    server.addFile("feed.json", signedEnvelopeOf(feedOf({clientPackage("2.1.0")})));
    makeWithFeed({testBoard()}, server, "/slow/feed.json?delay=300");
    show();
    showPage(Display::Page::updates);
    ASSERT_TRUE(waitUntil([&] { return model->checking(); }));
    EXPECT_FALSE(enabled("正在检查…"));
    EXPECT_FALSE(updateButton()->isEnabled());
    EXPECT_FALSE(menuCommand("检查客户端更新…")->isEnabled());
    EXPECT_EQ(updateButton()->toolTip(), "检查客户端更新");
    EXPECT_FALSE(shown(label("Update")));

    ASSERT_TRUE(waitUntil([&] { return model->update() && !model->checking() && model->snapshot(); }));
    EXPECT_TRUE(shown(label("Update")));
    EXPECT_EQ(updateButton()->toolTip(), "更新客户端至 2.1.0");
    EXPECT_EQ(updateButton()->accessibleName(), "发现客户端更新");
    EXPECT_TRUE(updateButton()->isEnabled());
    EXPECT_TRUE(menuCommand("检查客户端更新…")->isEnabled());
    EXPECT_TRUE(enabled("检查更新"));
    EXPECT_TRUE(enabled("下载并更新"));
    EXPECT_TRUE(shown(label("发现原生版 2.1.0")));
    EXPECT_TRUE(shown(label("Quelmar for Linux")));
    EXPECT_TRUE(shown(label("原生版 2.0.1 · Qt / hidapi")));
    EXPECT_TRUE(shown(label("更新与关于")));
    ASSERT_TRUE(shown(button("Quelmar 开源项目")));
    EXPECT_EQ(button("Quelmar 开源项目")->toolTip(), UpdatesPage::sourceAddress);
    screenshot("updates");
}

TEST_F(Window, NoPageSelectedShowsTheMonitorPage) {
    open({});
    auto* title = label("实时监控");
    showPage(Display::Page::firmware);
    EXPECT_EQ(title->text(), "固件升级");
    EXPECT_FALSE(shown(label("电池电量")));
    showPage(std::nullopt);
    EXPECT_EQ(title->text(), "实时监控");
    EXPECT_TRUE(shown(label("电池电量")));
    EXPECT_FALSE(shown(label("升级 Quelmar 设备固件")));
    EXPECT_TRUE(shown(label("接入 USB 后自动读取数据；多台设备时请先选择目标。")));
    EXPECT_FALSE(shown(named<QComboBox>("设备"))) << "no boards, no picker";
}

TEST_F(Window, DismissingTheAlertClearsTheMessageSoTheNextFailureShows) {
    open({});
    model->setErrorMessage(QStringLiteral("写入失败"));
    auto* first = alert();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text(), "操作未完成");
    EXPECT_EQ(first->informativeText(), "写入失败");
    ASSERT_EQ(first->buttons().size(), 1);
    EXPECT_EQ(first->buttons().front()->text(), "好");
    first->buttons().front()->click();
    EXPECT_FALSE(model->errorMessage());

    model->setErrorMessage(QStringLiteral("写入失败"));
    ASSERT_TRUE(alert());
    QTest::keyClick(alert(), Qt::Key_Escape);
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(alert());
}

TEST_F(Window, LogScrollsToTheNewestLineAndClears) {
    open({});
    for (int i = 0; i < 40; ++i) {
        model->log(QStringLiteral("line %1").arg(i));
    }
    auto* list = named<QListView>("日志");
    QTest::qWait(20);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->height(), 92);
    click("清空");
    EXPECT_EQ(list->model()->rowCount(), 0);
    model->log(QStringLiteral("after"));
    EXPECT_EQ(list->model()->rowCount(), 1);
    dialogs.saveLocation = home / "log.txt";
    click("导出");
    EXPECT_EQ(readFile(home / "log.txt").substr(21), "after");
}

TEST_F(Window, DarkAndMinimumSizeScreenshots) {
    open({testBoard()});
    ASSERT_TRUE(sampled());
    // Everything fits the minimum size: the layout asks for no more.
    const auto minimum = window->centralWidget()->minimumSizeHint();
    EXPECT_LE(minimum.width(), 940);
    EXPECT_LE(minimum.height(), 690);
    window->resize(1, 1);
    QTest::qWait(20);
    EXPECT_EQ(window->centralWidget()->size(), QSize(940, 690));
    for (auto* each : window->findChildren<QAbstractButton*>()) {
        if (shown(each)) {
            EXPECT_GE(each->width(), each->minimumSizeHint().width()) << each->text().toStdString();
        }
    }
    auto* page = window->findChild<QScrollArea*>()->verticalScrollBar();
    page->setValue(page->maximum());
    screenshot("minimum");

    window->resize(1040, 780);
    const auto dark = darkPalette();
    QApplication::setPalette(dark);
    QTest::qWait(20);
    EXPECT_EQ(textColour(label("USB 已连接")), Theme::colour(Tone::mint));
    EXPECT_EQ(Theme::colour(Tone::mint), Theme::colour(Tone::mint, dark));
    EXPECT_NE(Theme::colour(Tone::link), QColor(0x00, 0x00, 0xff)) << "the light palette's blue is lost on dark";
    screenshot("dark");
    showPage(Display::Page::firmware);
    screenshot("dark-firmware");
    showPage(Display::Page::updates);
    screenshot("dark-updates");
    // Deselected from the keyboard: the focused row is marked, not filled like an editor.
    auto* pages = window->findChild<QListWidget*>();
    pages->setFocus();
    QTest::keyClick(pages, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(pages->selectedItems().isEmpty());
    screenshot("dark-deselected");
}

TEST_F(Window, AScreenReaderReadsEveryValueWithItsRowAndUnitAndCanFollowTheLink) {
    open({testBoard()});
    ASSERT_TRUE(sampled());
    const auto nameOf = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    QStringList names;
    for (auto* each : window->findChildren<QLabel*>()) {
        if (shown(each) && each->text().endsWith(" V")) {
            names << nameOf(each);
        }
    }
    EXPECT_THAT(names, testing::Contains("电池 电压：12.18 V"));
    EXPECT_THAT(names, testing::Contains("输入 电压：12.04 V"));
    EXPECT_THAT(names, testing::Contains("输出 12V 电压：12.01 V"));
    EXPECT_EQ(nameOf(label("87%")), "电池电量：87%");

    auto* link = QAccessible::queryAccessibleInterface(button("Quelmar 开源项目"));
    ASSERT_TRUE(link->actionInterface());
    EXPECT_THAT(link->actionInterface()->actionNames(), testing::Contains(QAccessibleActionInterface::pressAction()));
    EXPECT_EQ(link->text(QAccessible::Name), "Quelmar 开源项目");
    EXPECT_NE(button("Quelmar 开源项目")->focusPolicy(), Qt::NoFocus) << "reachable from the keyboard";
}

TEST_F(Window, AFailingWorkflowRaisesAnAlertWideEnoughForItsMessageAndTheMonitorFollowsTheNextSample) {
    open({testBoard()});
    ASSERT_TRUE(sampled());
    model->setResistance("0");
    click("写入设备");
    auto* box = alert();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->informativeText(), "请输入有效的电池容量和内阻");
    QTest::qWait(20);
    for (auto* each : box->findChildren<QLabel*>()) {
        if (each->text() == box->informativeText()) {
            EXPECT_GE(each->width(), each->fontMetrics().horizontalAdvance(each->text())) << "one line, not wrapped";
        }
    }
    box->grab().save(QString::fromStdString((std::filesystem::path(QUELMAR_SCREENSHOTS) / "alert.png").string()));
    box->buttons().front()->click();

    auto changed = platform->withBoard(0, [](EmulatedBoard& b) { return b.telemetry(); });
    changed.batteryVoltage = 11.07;
    changed.status = 0x0004; // on battery
    platform->withBoard(0, [&](EmulatedBoard& b) { b.setTelemetry(changed); });
    EXPECT_TRUE(waitUntil([&] { return shown(label("11.07 V")) && shown(label("电池供电")); }));
}

TEST_F(Window, SaysWhyABoardCannotBeOpenedOrListedWhileItLasts) {
    auto locked = testBoard();
    locked.faults.openStatus = 13;
    open({locked});
    ASSERT_TRUE(waitUntil([&] { return model->accessDenied(); }));
    EXPECT_TRUE(shown(label("USB 打开失败：0x0000000d，请关闭占用设备的其他客户端")));
    EXPECT_TRUE(shown(label(Display::accessHint())));
    screenshot("access-denied");
    unplug(0);
    EXPECT_TRUE(waitUntil([&] { return !shown(label(Display::accessHint())); }));
}

TEST_F(Window, DuringAModeSwitchTheBarAndTheSidebarAgree) {
    auto slow = testBoard();
    slow.restartMilliseconds = 400;
    open({slow});
    ASSERT_TRUE(sampled());
    auto entering = model->enterBootloader();
    ASSERT_TRUE(waitUntil([&] { return !model->connected(); }));
    EXPECT_TRUE(shown(label("未连接设备")));
    EXPECT_TRUE(shown(label("正在查找设备")));
    EXPECT_FALSE(shown(label("已连接")));
    run(std::move(entering));
    EXPECT_TRUE(shown(label("Bootloader 模式 · QM1")));
}

namespace {

using namespace std::chrono_literals;

const HistoryBoard recorded{idOf(), "QM1"};

// The recorded board on mains and charging, or on its battery.
HistoryEntry sampleAt(HistoryTime time, std::int64_t charge, bool mains) {
    Snapshot s;
    s.capacity = charge;
    s.runtime = charge * 100;
    s.batteryVoltage = 10.8 + 1.8 * static_cast<double>(charge) / 100;
    s.batteryCurrent = mains ? 0.6 : -1.1;
    s.inputVoltage = mains ? 12.05 : 0.0;
    s.load = 15;
    s.status = StatusBit::batteryPresent | (mains ? StatusBit::mains | StatusBit::charging : StatusBit::discharging);
    return {recorded, HistorySample{time, s}};
}

HistoryEntry eventAt(HistoryTime time, HistoryEventKind kind, std::string text) {
    return {recorded, HistoryEvent{time, kind, std::move(text)}};
}

class HistoryWindow : public Window {
protected:
    void openWithHistory(std::vector<BoardDescription> boards) {
        AppModel::Setup setup;
        setup.history = home / "history.sqlite";
        make(std::move(boards), std::move(setup));
        show();
    }
    // As an earlier run of the client left it.
    void write(const std::vector<HistoryEntry>& entries) {
        HistoryStore store(home / "history.sqlite");
        store.write(entries);
    }
    HistoryTime second() const { return std::chrono::floor<std::chrono::seconds>(now); }
    HistoryModel& history() const { return *window->findChild<HistoryPage*>()->history(); }
    QAccessibleInterface* chart() const {
        return QAccessible::queryAccessibleInterface(window->findChild<HistoryChart*>());
    }
    std::vector<std::string> eventRows() const {
        const auto* rows = named<QTreeView>("事件")->model();
        std::vector<std::string> texts;
        for (int row = 0; row < rows->rowCount(); ++row) {
            texts.push_back(rows->index(row, 1).data().toString().toStdString());
        }
        return texts;
    }
    // The last hour, a sample every ten seconds, with an outage of twelve minutes that took the charge to 41 %.
    void lastHourWithAnOutage() {
        std::vector<HistoryEntry> entries;
        const auto lost = second() - 40min;
        const auto restored = lost + 12min;
        for (auto time = second() - 50min; time < second() - 1min; time += 10s) {
            const bool mains = time < lost || time >= restored;
            entries.push_back(
                sampleAt(time, mains ? 90 : std::max<std::int64_t>(41, 90 - (time - lost).count() / 10), mains));
        }
        entries.push_back(eventAt(lost, HistoryEventKind::mainsLost, "市电中断，电池供电"));
        entries.push_back(eventAt(restored, HistoryEventKind::mainsRestored, "市电恢复"));
        write(entries);
    }
};

} // namespace

TEST_F(HistoryWindow, ShowsTheChosenSpanWithItsOutagesAndEventsAndFollowsTheClock) {
    lastHourWithAnOutage();
    openWithHistory({testBoard()});
    ASSERT_TRUE(sampled());
    showPage(Display::Page::history);
    EXPECT_TRUE(shown(label("历史记录")));
    EXPECT_TRUE(button("1 小时")->isChecked());
    const auto outage = "市电中断，电池供电 · 持续 12 分 · 最低电量 41%";
    ASSERT_TRUE(waitUntil([&] { return eventRows().size() == 3; }));
    EXPECT_THAT(eventRows(), testing::ElementsAre("设备已连接", "市电恢复", outage)) << "newest first";
    EXPECT_EQ(history().shown().bucket, 1s);
    EXPECT_EQ(history().shown().outages.size(), 1u);

    // A screen reader reads the chart's latest values and each event whole.
    EXPECT_EQ(chart()->text(QAccessible::Name), "历史曲线 · 最近 1 小时");
    // The connection's event and the first live sample reach the page separately.
    const QString latest =
        "最新：电量 87% · 负载 18 % · 电池电压 12.18 V · 电池电流 0.85 A · 输入电压 12.04 V。市电中断 1 次";
    EXPECT_TRUE(waitUntil([&] { return chart()->text(QAccessible::Description) == latest; }))
        << chart()->text(QAccessible::Description).toStdString();
    auto* events = QAccessible::queryAccessibleInterface(named<QTreeView>("事件"));
    std::vector<std::string> read;
    for (int i = 0; i < events->childCount(); ++i) {
        read.push_back(events->child(i)->text(QAccessible::Name).toStdString());
    }
    EXPECT_THAT(read, testing::Contains(testing::EndsWith(std::string(" ") + outage)));

    // Longer spans read summaries: at most a few thousand points, the outage still there.
    for (const auto& [text, span, bucket] :
         {std::tuple{"24 小时", RecentSpan::last24Hours, 60s}, std::tuple{"30 天", RecentSpan::last30Days, 1200s}}) {
        click(QString::fromUtf8(text));
        ASSERT_TRUE(waitUntil([&] { return history().shownSpan() == span; })) << text;
        EXPECT_EQ(history().shown().bucket, bucket) << text;
        EXPECT_FALSE(history().shown().points.empty()) << text;
        EXPECT_EQ(history().shown().outages.size(), 1u) << text;
        EXPECT_EQ(chart()->text(QAccessible::Name), QStringLiteral("历史曲线 · 最近 ") + QString::fromUtf8(text));
    }
    EXPECT_THAT(eventRows(), testing::Contains(outage));

    // Live: the next samples of the board appear while the page is open.
    click("1 小时");
    ASSERT_TRUE(waitUntil([&] { return history().shownSpan() == RecentSpan::lastHour; }));
    auto changed = platform->withBoard(0, [](EmulatedBoard& b) { return b.telemetry(); });
    changed.batteryVoltage = 11.07;
    platform->withBoard(0, [&](EmulatedBoard& b) { b.setTelemetry(changed); });
    now += 1s;
    QTest::qWait(60); // a sample read before the change may still take that second
    now += 4s;
    EXPECT_TRUE(waitUntil([&] { return chart()->text(QAccessible::Description).contains("电池电压 11.07 V"); }));
    EXPECT_EQ(history().shownTo(), second());
}

TEST_F(HistoryWindow, ExportsTheShownSpanAsCSVThroughTheSavePanelKeepingTheFilesMode) {
    Snapshot onMains;
    onMains.capacity = 87;
    onMains.batteryVoltage = 12.18;
    onMains.status = 0x43;
    auto onBattery = onMains;
    onBattery.batteryCurrent = -1.5;
    onBattery.status = 0x44;
    write({{recorded, HistorySample{second() - 90s, onMains}}, {recorded, HistorySample{second() - 30s, onBattery}}});
    openWithHistory({});
    showPage(Display::Page::history);
    ASSERT_TRUE(waitUntil([&] { return history().shown().points.size() == 2; }));

    const auto file = home / "history.csv";
    writeFile(file, "old");
    ::chmod(file.c_str(), 0600);
    dialogs.saveLocation = file;
    click("导出 CSV…");
    ASSERT_TRUE(waitUntil([&] { return readFile(file) != "old"; }));
    EXPECT_EQ(readFile(file),
              "time,capacity,runtime,batteryVoltage,batteryCurrent,temperature,inputVoltage,inputCurrent,"
              "output5Voltage,output5Current,output12Voltage,output12Current,load,status\r\n"
              "2026-12-07T23:58:30Z,87,,12.18,,,,,,,,,,67\r\n"
              "2026-12-07T23:59:30Z,87,,12.18,-1.50,,,,,,,,,68\r\n");
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_THAT(dialogs.asked, testing::Contains("save Quelmar-history.csv"));

    dialogs.saveLocation = home / "missing" / "history.csv";
    click("导出 CSV…");
    ASSERT_TRUE(waitUntil([&] { return alert() != nullptr; }));
    EXPECT_THAT(alert()->informativeText().toStdString(), testing::HasSubstr("missing/history.csv"));
}

TEST_F(HistoryWindow, ScreenshotsLightDarkAndAtTheMinimumSize) {
    // A day of the board cycling between full and two thirds, with an outage at night and one still going.
    std::vector<HistoryEntry> entries;
    const auto start = second() - 24h;
    const auto night = second() - 15h;
    const auto recent = second() - 25min;
    const auto cycle = [&](HistoryTime time) {
        const auto phase = (time - start).count() % 10800;
        return phase < 5400 ? 66 + phase * 34 / 5400 : 100 - (phase - 5400) * 34 / 5400;
    };
    for (auto time = start; time < second(); time += 30s) {
        const auto lost = time >= recent ? recent : time >= night && time < night + 40min ? night : HistoryTime{};
        const bool mains = lost == HistoryTime{};
        entries.push_back(sampleAt(time, mains ? cycle(time) : cycle(lost) - (time - lost).count() / 90, mains));
    }
    entries.push_back(eventAt(night, HistoryEventKind::mainsLost, "市电中断，电池供电"));
    entries.push_back(eventAt(night + 40min, HistoryEventKind::mainsRestored, "市电恢复"));
    entries.push_back(eventAt(recent - 2min, HistoryEventKind::batteryParametersWritten, "电池参数写入及读回验证通过"));
    entries.push_back(eventAt(recent, HistoryEventKind::mainsLost, "市电中断，电池供电"));
    write(entries);
    openWithHistory({});
    showPage(Display::Page::history);
    click("24 小时");
    ASSERT_TRUE(waitUntil([&] { return history().shownSpan() == RecentSpan::last24Hours; }));
    EXPECT_EQ(history().shown().outages.size(), 2u);
    screenshot("history");

    window->resize(1, 1);
    QTest::qWait(20);
    EXPECT_EQ(window->centralWidget()->size(), QSize(940, 690))
        << "the page asks for no more than the window's minimum";
    auto* page = window->findChild<QScrollArea*>()->verticalScrollBar();
    page->setValue(page->maximum());
    screenshot("minimum-history");
    page->setValue(0);

    window->resize(1040, 780);
    QApplication::setPalette(darkPalette());
    screenshot("dark-history");
}

TEST(QtDialogs, ConfirmIsTrueOnlyForTheActionButton) {
    QtDialogs dialogs;
    std::vector<QString> buttons;
    const auto answer = [&](const QString& text) {
        QTimer::singleShot(0, [&buttons, text] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            buttons.clear();
            for (auto* each : box->buttons()) {
                buttons.push_back(each->text());
            }
            if (text.isEmpty()) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            for (auto* each : box->buttons()) {
                if (each->text() == text) {
                    each->click();
                }
            }
        });
    };
    answer("写入");
    EXPECT_TRUE(dialogs.confirm("写入电池参数？", "容量 3000 mAh", "写入"));
    EXPECT_THAT(buttons, testing::ElementsAre("写入", "取消"));
    answer("取消");
    EXPECT_FALSE(dialogs.confirm("写入电池参数？", "容量 3000 mAh", "写入"));
    answer("");
    EXPECT_FALSE(dialogs.confirm("写入电池参数？", "容量 3000 mAh", "写入"));
}
