#pragma once

#include "history/HistoryStore.h"

#include <chrono>
#include <optional>
#include <span>

#include <QString>

// What the history page shows for the history's values: the texts of its spans, events and chart, without widgets.
namespace quelmar::Display {

// The span buttons: "1 小时", "24 小时", "7 天", "30 天".
QString spanName(RecentSpan span);
// "最近 24 小时"
QString recentName(RecentSpan span);
// A length as a person says it, to the second under an hour: "45 秒", "3 分 5 秒", "2 小时 5 分", "3 天 4 小时".
QString duration(std::chrono::seconds length);
// Local date and time of an event: "12-08 14:03:05".
QString eventTime(HistoryTime time);
// The event's own text; a loss of the mains adds how long it lasted (so far, while it lasts; at least, when the board
// was lost before the mains returned) and the lowest charge reached.
QString eventText(const HistoryEvent& event, std::span<const Outage> outages);

// One line of the chart: a field, how it is named and written.
struct ChartSeries {
    HistoryField field;
    const char* name;
    const char* unit; // "%" of the charge is written without a space, as the monitor page does
    int decimals;
};
// The chart's lanes, top to bottom, each with its series: charge and load, battery voltage, battery current,
// input voltage.
inline constexpr int chartLanes = 4;
std::span<const ChartSeries> chartLane(int lane);
// "电量 87%", "电池电压 12.18 V"; "—" for the value when there is none.
QString seriesValue(const ChartSeries& series, std::optional<double> value);
// The newest value of each series, as a screen reader reads the chart: "电量 87% · 负载 57 % · 电池电压 12.18 V …".
QString latestValues(std::span<const HistoryPoint> points);
QString chartName(RecentSpan span);
QString chartDescription(const HistorySpan& data);

} // namespace quelmar::Display
