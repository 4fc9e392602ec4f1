#pragma once

#include "views/PowerNotifications.h"

#include <functional>
#include <map>

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

class QSystemTrayIcon;

namespace quelmar {

// Notices through the freedesktop notification service on the session bus; where the bus or the service is missing,
// as the system tray's message. Never waits for the bus: a call's answer arrives later, or its failure, which then
// sends the notice the other way.
class DesktopNotifications final : public QObject, public NotificationSink {
public:
    using Fallback = std::function<void(const Notice&)>;

    // Without a fallback, the tray's message.
    explicit DesktopNotifications(QDBusConnection bus, Fallback fallback = {}, QObject* parent = nullptr);
    ~DesktopNotifications() override;

    void notify(const Notice& notice) override;

private:
    void trayMessage(const Notice& notice);

    QDBusConnection bus_;
    Fallback fallback_;
    std::map<Notice::Topic, uint> shown_; // the service's id of the last notice of each topic
    QSystemTrayIcon* tray_ = nullptr;     // made at the first message that needs it
    QTimer trayTimer_;
};

} // namespace quelmar
