#pragma once

#include "core/PowerEvents.h"
#include "core/Snapshot.h"

#include <chrono>
#include <optional>

#include <QObject>
#include <QString>

namespace quelmar {

class AppModel;

// A desktop notification.
struct Notice {
    // A newer notice of a topic takes the place of one still on screen: the mains returning replaces its failure.
    enum class Topic { mains, battery };
    Topic topic;
    QString title;
    QString body;
    bool urgent = false;

    bool operator==(const Notice&) const = default;
};

// Where notices go: the desktop's notification service, or a test's list.
class NotificationSink {
public:
    NotificationSink() = default;
    NotificationSink(const NotificationSink&) = delete;
    NotificationSink& operator=(const NotificationSink&) = delete;
    virtual ~NotificationSink() = default;

    virtual void notify(const Notice& notice) = 0;
};

// Tells the desktop when the mains fail and return, when the battery runs low and when shutdown is imminent: once
// for each such event the controller raises, never again while the state merely lasts.
class PowerNotifications final : public QObject {
public:
    PowerNotifications(AppModel& model, NotificationSink& sink, QObject* parent = nullptr);

    // The notice of an event with the board's latest sample, and how long the mains were away when they return;
    // none for the events the desktop is not told about.
    static std::optional<Notice> noticeOf(PowerEvent event, const std::optional<Snapshot>& snapshot,
                                          std::optional<std::chrono::seconds> outage);

private:
    void raised(PowerEvent event);

    AppModel& model_;
    NotificationSink& sink_;
    std::optional<std::chrono::system_clock::time_point> mainsLostAt_;
};

} // namespace quelmar
