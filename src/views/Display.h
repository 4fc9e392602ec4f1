#pragma once

#include "controller/DeviceChoice.h"
#include "core/DeviceInfo.h"
#include "core/Snapshot.h"
#include "core/UpdateFeed.h"

#include <optional>

#include <QString>

// What the window shows for the controller's values: every rule that turns a value into text, without widgets.
namespace quelmar::Display {

// The pages of the sidebar, in their order.
enum class Page { monitor, firmware, updates, history };
inline constexpr Page pages[] = {Page::monitor, Page::firmware, Page::updates, Page::history};
QString title(Page page);
// The title above the page area; no selection shows the monitor page.
QString title(std::optional<Page> page);
QString symbol(Page page);

// The power-state line of the summary panel.
QString powerSource(const std::optional<Snapshot>& snapshot, const std::optional<DeviceChoice>& connected);
// "预计续航 H 小时 M 分钟", or "预计续航 —" without a runtime.
QString runtime(const std::optional<Snapshot>& snapshot);
// The charge in the summary panel: "57%", or "—".
QString charge(const std::optional<Snapshot>& snapshot);
// One measurement: the value with this many decimals, a space and the unit; "—" when absent.
QString metric(std::optional<double> value, const QString& unit, int precision);
// A product of two measurements, present only when both are.
std::optional<double> product(std::optional<double> a, std::optional<double> b);

struct StatusLine {
    QString text;
    bool warning = false; // overload or shutdown imminent
};
// The status labels joined with " · "; none without a sample.
std::optional<StatusLine> statusLine(const std::optional<Snapshot>& snapshot);

// Connection bar.
QString productTitle(const std::optional<DeviceChoice>& connected);
// While a mode switch waits for the board to come back, the bar says it is looking for it, as the sidebar does.
QString connectionDetail(const QString& connectionText, const std::optional<DeviceChoice>& connected,
                         const std::optional<QString>& operation = std::nullopt);
// Beside the open failure's own message when the system denied access: why, and how to give it.
QString accessHint();
std::optional<QString> versions(const std::optional<DeviceInfo>& info);
QString deviceRow(const DeviceChoice& device);

// What a screen reader says for one measurement: the card, the row, the value with its unit.
QString metricName(const QString& card, const QString& row, const QString& value);

// Sidebar.
QString connectionIndicator(const std::optional<DeviceChoice>& connected);
QString updateButtonToolTip(const std::optional<UpdatePackage>& update);
QString updateButtonName(const std::optional<UpdatePackage>& update);
QString edition(const std::string& version);

// The progress strip shows a bar, captioned with the progress text, for the long workflows.
bool showsProgressBar(const std::optional<QString>& operation);

// Firmware and updates pages.
std::optional<QString> firmwareSize(qint64 bytes);
QString downloadFirmwareButton(const UpdatePackage& package);
QString platformEdition(const std::string& version);
QString checkButton(bool checking);
QString updateSymbol(const std::optional<UpdatePackage>& update);

} // namespace quelmar::Display
