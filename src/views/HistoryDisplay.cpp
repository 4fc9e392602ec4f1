#include "views/HistoryDisplay.h"

#include <QDateTime>
#include <QStringList>

namespace quelmar::Display {

namespace {

using std::chrono::seconds;

constexpr ChartSeries chargeAndLoad[] = {
    {HistoryField::capacity, "电量", "%", 0},
    {HistoryField::load, "负载", " %", 0},
};
constexpr ChartSeries batteryVoltage[] = {{HistoryField::batteryVoltage, "电池电压", " V", 2}};
constexpr ChartSeries batteryCurrent[] = {{HistoryField::batteryCurrent, "电池电流", " A", 2}};
constexpr ChartSeries inputVoltage[] = {{HistoryField::inputVoltage, "输入电压", " V", 2}};

// Two units at most, the larger first.
QString twoUnits(long long first, const char* firstUnit, long long second, const char* secondUnit) {
    auto text = QStringLiteral("%1 %2").arg(first).arg(QString::fromUtf8(firstUnit));
    if (second > 0) {
        text += QStringLiteral(" %1 %2").arg(second).arg(QString::fromUtf8(secondUnit));
    }
    return text;
}

} // namespace

QString spanName(RecentSpan span) {
    switch (span) {
    case RecentSpan::lastHour:
        return QStringLiteral("1 小时");
    case RecentSpan::last24Hours:
        return QStringLiteral("24 小时");
    case RecentSpan::last7Days:
        return QStringLiteral("7 天");
    case RecentSpan::last30Days:
        break;
    }
    return QStringLiteral("30 天");
}

QString recentName(RecentSpan span) {
    return QStringLiteral("最近 ") + spanName(span);
}

QString duration(seconds length) {
    const auto total = std::max<long long>(length.count(), 0);
    if (total < 60) {
        return QStringLiteral("%1 秒").arg(total);
    }
    if (total < 3600) {
        return twoUnits(total / 60, "分", total % 60, "秒");
    }
    if (total < 86400) {
        return twoUnits(total / 3600, "小时", total % 3600 / 60, "分");
    }
    return twoUnits(total / 86400, "天", total % 86400 / 3600, "小时");
}

QString eventTime(HistoryTime time) {
    return QDateTime::fromSecsSinceEpoch(time.time_since_epoch().count())
        .toLocalTime()
        .toString(QStringLiteral("MM-dd HH:mm:ss"));
}

QString eventText(const HistoryEvent& event, std::span<const Outage> outages) {
    auto text = QString::fromStdString(event.text);
    if (event.kind != HistoryEventKind::mainsLost) {
        return text;
    }
    const auto outage =
        std::find_if(outages.begin(), outages.end(), [&](const Outage& each) { return each.start == event.time; });
    if (outage == outages.end()) {
        return text;
    }
    const auto lasted = !outage->end       ? QStringLiteral("已持续 ")
                        : outage->restored ? QStringLiteral("持续 ")
                                           : QStringLiteral("至少持续 ");
    text += QStringLiteral(" · ") + lasted + duration(outage->length);
    if (outage->lowestCharge) {
        text += QStringLiteral(" · 最低电量 %1%").arg(*outage->lowestCharge);
    }
    return text;
}

std::span<const ChartSeries> chartLane(int lane) {
    switch (lane) {
    case 0:
        return chargeAndLoad;
    case 1:
        return batteryVoltage;
    case 2:
        return batteryCurrent;
    default:
        return inputVoltage;
    }
}

QString seriesValue(const ChartSeries& series, std::optional<double> value) {
    const auto name = QString::fromUtf8(series.name) + QLatin1Char(' ');
    if (!value) {
        return name + QStringLiteral("—");
    }
    return name + QString::number(*value, 'f', series.decimals) + QString::fromUtf8(series.unit);
}

QString latestValues(std::span<const HistoryPoint> points) {
    QStringList values;
    for (int lane = 0; lane < chartLanes; ++lane) {
        for (const auto& series : chartLane(lane)) {
            const auto last = std::find_if(points.rbegin(), points.rend(),
                                           [&](const HistoryPoint& point) { return point[series.field].present(); });
            values << seriesValue(series,
                                  last == points.rend() ? std::nullopt : std::optional((*last)[series.field].mean()));
        }
    }
    return values.join(QStringLiteral(" · "));
}

QString chartName(RecentSpan span) {
    return QStringLiteral("历史曲线 · ") + recentName(span);
}

QString chartDescription(const HistorySpan& data) {
    if (data.points.empty()) {
        return QStringLiteral("暂无历史数据");
    }
    auto text = QStringLiteral("最新：") + latestValues(data.points);
    text += data.outages.empty() ? QStringLiteral("。市电未中断")
                                 : QStringLiteral("。市电中断 %1 次").arg(data.outages.size());
    return text;
}

} // namespace quelmar::Display
