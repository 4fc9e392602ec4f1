#include "ControllerFixture.h"
#include "core/StatusBits.h"
#include "views/DesktopNotifications.h"
#include "views/PowerNotifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

struct RecordedNotices final : NotificationSink {
    std::vector<Notice> notices;
    void notify(const Notice& notice) override { notices.push_back(notice); }
};

class Notifying : public ControllerTest {};

} // namespace

TEST_F(Notifying, TellsTheDesktopOncePerEventOfAScriptedStatusSequence) {
    make({testBoard()});
    RecordedNotices sink;
    PowerNotifications notifications(*model, sink);
    const auto status = [&](std::int64_t bits, int samples) {
        auto telemetry = platform->withBoard(0, [](EmulatedBoard& b) { return b.telemetry(); });
        telemetry.status = bits;
        platform->withBoard(0, [&](EmulatedBoard& b) { b.setTelemetry(telemetry); });
        for (int i = 0; i < samples; ++i) {
            now += 1s;
            run(model->poll());
        }
    };
    using namespace StatusBit;
    run(model->poll()); // connects
    // clang-format off
    status(mains | charging,                           3);
    status(discharging,                                3); // mains lost
    status(discharging | batteryLow,                   3); // battery low
    status(discharging | batteryLow | shutdownImminent, 3); // shutdown imminent
    status(discharging | shutdownImminent,             2); // low cleared: nothing
    status(mains | charging,                           3); // mains back after 11 s
    status(discharging,                                1); // a flicker: lost and back, once each
    status(mains,                                      3);
    // clang-format on
    unplug(0);
    run(model->poll()); // the board lost: nothing for the desktop

    std::vector<std::string> titles;
    for (const auto& notice : sink.notices) {
        titles.push_back(notice.title.toStdString());
    }
    EXPECT_THAT(titles, ElementsAre("市电中断", "电量低", "即将关机", "市电恢复", "市电中断", "市电恢复"));
    ASSERT_EQ(sink.notices.size(), 6u);
    EXPECT_EQ(sink.notices[0],
              (Notice{Notice::Topic::mains, "市电中断", "电池供电 · 电量 87% · 预计续航 2 小时 32 分钟"}));
    EXPECT_EQ(sink.notices[1],
              (Notice{Notice::Topic::battery, "电量低", "电量 87% · 预计续航 2 小时 32 分钟 · 请尽快接通市电", true}));
    EXPECT_TRUE(sink.notices[2].urgent);
    EXPECT_EQ(sink.notices[3].body, "市电恢复供电 · 中断了 11 秒 · 电量 87% · 预计续航 2 小时 32 分钟");
    EXPECT_EQ(sink.notices[5].body, "市电恢复供电 · 中断了 1 秒 · 电量 87% · 预计续航 2 小时 32 分钟");
}

namespace {

// The freedesktop notification service, as far as Notify: records each call and answers with the next id.
class NotificationService final : public QDBusVirtualObject {
public:
    std::vector<QList<QVariant>> calls;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QStringLiteral("Notify")) {
            return false;
        }
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(calls.size() + 40))));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

// A session bus of the test's own, so that nothing reaches the desktop of whoever runs the tests.
class PrivateBus {
public:
    PrivateBus() {
        const auto daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            return;
        }
        process_.start(daemon,
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (process_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(process_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        for (const auto& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        process_.kill();
        process_.waitForFinished();
    }
    bool running() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess process_;
    QString address_;
    QStringList names_;
};

} // namespace

TEST(DesktopNotifications, GoToTheNotificationServiceWhenTheBusHasOneElseToTheFallback) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon could not be started";
    }
    std::vector<Notice> fallen;
    DesktopNotifications notifications(bus.connect(QStringLiteral("quelmar-client")),
                                       [&](const Notice& notice) { fallen.push_back(notice); });
    const Notice lost{Notice::Topic::mains, "市电中断", "电池供电 · 电量 87%"};
    notifications.notify(lost);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallen.empty(); }, 5000)) << "no service yet";
    EXPECT_EQ(fallen.front(), lost);

    auto serving = bus.connect(QStringLiteral("quelmar-service"));
    NotificationService service;
    ASSERT_TRUE(serving.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service));
    ASSERT_TRUE(serving.registerService(QStringLiteral("org.freedesktop.Notifications")));
    notifications.notify(lost);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.calls.size() == 1; }, 5000));
    const auto& call = service.calls.front();
    ASSERT_EQ(call.size(), 8);
    EXPECT_EQ(call[0].toString(), "Quelmar");
    EXPECT_EQ(call[1].toUInt(), 0u);
    EXPECT_EQ(call[3].toString(), "市电中断");
    EXPECT_EQ(call[4].toString(), "电池供电 · 电量 87%");
    EXPECT_EQ(qdbus_cast<QVariantMap>(call[6]).value(QStringLiteral("urgency")).toInt(), 1);
    EXPECT_EQ(call[7].toInt(), -1);

    // The mains returning replaces the notice of their failure; a battery notice is a new one, and urgent.
    QTest::qWait(20); // the service's answer with the id
    notifications.notify({Notice::Topic::mains, "市电恢复", "市电恢复供电"});
    notifications.notify({Notice::Topic::battery, "电量低", "电量 18%", true});
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.calls.size() == 3; }, 5000));
    EXPECT_EQ(service.calls[1][1].toUInt(), 41u);
    EXPECT_EQ(service.calls[2][1].toUInt(), 0u);
    EXPECT_EQ(qdbus_cast<QVariantMap>(service.calls[2][6]).value(QStringLiteral("urgency")).toInt(), 2);
    EXPECT_EQ(fallen.size(), 1u);
    serving.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}
