#include "views/PowerNotifications.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/HistoryDisplay.h"

#include <QStringList>

namespace quelmar {

namespace {

// The charge and, when the board says, the runtime left.
QStringList reserve(const std::optional<Snapshot>& snapshot) {
    QStringList parts;
    if (snapshot && snapshot->capacity) {
        parts << QStringLiteral("电量 ") + Display::charge(snapshot);
    }
    if (snapshot && snapshot->runtime) {
        parts << Display::runtime(snapshot);
    }
    return parts;
}

QString joined(QStringList parts) {
    return parts.join(QStringLiteral(" · "));
}

} // namespace

PowerNotifications::PowerNotifications(AppModel& model, NotificationSink& sink, QObject* parent)
    : QObject(parent)
    , model_(model)
    , sink_(sink) {
    QObject::connect(&model_, &AppModel::powerEventRaised, this, &PowerNotifications::raised);
}

std::optional<Notice> PowerNotifications::noticeOf(PowerEvent event, const std::optional<Snapshot>& snapshot,
                                                   std::optional<std::chrono::seconds> outage) {
    switch (event) {
    case PowerEvent::mainsLost:
        return Notice{Notice::Topic::mains, QStringLiteral("市电中断"),
                      joined(QStringList{QStringLiteral("电池供电")} + reserve(snapshot)), false};
    case PowerEvent::mainsRestored: {
        QStringList parts{QStringLiteral("市电恢复供电")};
        if (outage) {
            parts << QStringLiteral("中断了 ") + Display::duration(*outage);
        }
        return Notice{Notice::Topic::mains, QStringLiteral("市电恢复"), joined(parts + reserve(snapshot)), false};
    }
    case PowerEvent::batteryLow:
        return Notice{Notice::Topic::battery, QStringLiteral("电量低"),
                      joined(reserve(snapshot) << QStringLiteral("请尽快接通市电")), true};
    case PowerEvent::shutdownImminent:
        return Notice{Notice::Topic::battery, QStringLiteral("即将关机"),
                      joined(QStringList{QStringLiteral("UPS 即将切断输出，请立即保存工作")} + reserve(snapshot)),
                      true};
    case PowerEvent::connected:
    case PowerEvent::lost:
    case PowerEvent::shutdownStarted:
        break;
    }
    return std::nullopt;
}

void PowerNotifications::raised(PowerEvent event) {
    std::optional<std::chrono::seconds> outage;
    if (event == PowerEvent::mainsLost) {
        mainsLostAt_ = model_.now();
    } else if (event == PowerEvent::mainsRestored && mainsLostAt_) {
        outage = std::chrono::floor<std::chrono::seconds>(model_.now() - *mainsLostAt_);
        mainsLostAt_.reset();
    }
    if (const auto notice = noticeOf(event, model_.snapshot(), outage)) {
        sink_.notify(*notice);
    }
}

} // namespace quelmar
