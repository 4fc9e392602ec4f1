#include "views/DesktopNotifications.h"

#include "views/Icons.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>

namespace quelmar {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
constexpr int trayMilliseconds = 15000;

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, Fallback fallback, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , fallback_(std::move(fallback)) {
    if (!fallback_) {
        fallback_ = [this](const Notice& notice) { trayMessage(notice); };
    }
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::notify(const Notice& notice) {
    if (!bus_.isConnected()) {
        fallback_(notice);
        return;
    }
    auto call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    const auto replaces = shown_.find(notice.topic);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notice.urgent ? 2 : 1));
    hints.insert(QStringLiteral("category"), QStringLiteral("device"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("net.quelmar.monitor"));
    call << QStringLiteral("Quelmar") << (replaces == shown_.end() ? 0u : replaces->second)
         << QStringLiteral("net.quelmar.monitor") << notice.title << notice.body << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notice](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isError()) {
            // No service on the bus (or one that failed): the notice still reaches the person.
            fallback_(notice);
        } else {
            shown_[notice.topic] = reply.value();
        }
        done->deleteLater();
    });
}

void DesktopNotifications::trayMessage(const Notice& notice) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    if (!tray_) {
        tray_ = new QSystemTrayIcon(Icons::application(), this);
        tray_->setToolTip(QStringLiteral("Quelmar"));
        trayTimer_.setSingleShot(true);
        QObject::connect(&trayTimer_, &QTimer::timeout, tray_, &QSystemTrayIcon::hide);
    }
    // The icon is there while its message is, and leaves with it.
    tray_->show();
    tray_->showMessage(notice.title, notice.body,
                       notice.urgent ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, trayMilliseconds);
    trayTimer_.start(trayMilliseconds);
}

} // namespace quelmar
