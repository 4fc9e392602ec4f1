#include "views/HistoryPage.h"

#include "controller/AppModel.h"
#include "controller/HistoryModel.h"
#include "views/HistoryChart.h"
#include "views/HistoryDisplay.h"
#include "views/Panel.h"
#include "views/Theme.h"

#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace quelmar {

// The events of the span, newest first: time and text.
class HistoryEventTable final : public QAbstractTableModel {
public:
    using Row = std::pair<QString, QString>;
    using QAbstractTableModel::QAbstractTableModel;

    // Resets only on a change, so that the list keeps its place while the page follows the clock.
    void setRows(std::vector<Row> rows) {
        if (rows == rows_) {
            return;
        }
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 2; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const auto& [time, text] = rows_[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return index.column() == 0 ? time : text;
        case Qt::ToolTipRole:
            return index.column() == 1 ? text : QVariant();
        case Qt::AccessibleTextRole:
            // The whole event in either cell, so that a screen reader moving along a row loses nothing.
            return time + QStringLiteral(" ") + text;
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        return section == 0 ? QStringLiteral("时间") : QStringLiteral("事件");
    }

private:
    std::vector<Row> rows_;
};

HistoryPage::HistoryPage(AppModel& model, QWidget* parent)
    : QWidget(parent) {
    if (model.historyFile()) {
        history_ = std::make_unique<HistoryModel>(model, *model.historyFile());
    }
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(6);
    spans_ = new QButtonGroup(this);
    for (const auto span :
         {RecentSpan::lastHour, RecentSpan::last24Hours, RecentSpan::last7Days, RecentSpan::last30Days}) {
        auto* button = new QPushButton(Display::spanName(span));
        button->setCheckable(true);
        button->setAccessibleName(Display::recentName(span));
        // A pressed button is only a shade darker, too little on a dark palette: the chosen span is bold too.
        QObject::connect(button, &QPushButton::toggled, button, [button](bool checked) {
            auto font = button->font();
            font.setBold(checked);
            button->setFont(font);
        });
        spans_->addButton(button, static_cast<int>(span));
        bar->addWidget(button);
    }
    bar->addStretch();
    export_ = new QPushButton(QStringLiteral("导出 CSV…"));
    export_->setToolTip(QStringLiteral("将所选时间范围的数据保存为 CSV 文件"));
    bar->addWidget(export_);
    page->addLayout(bar);

    auto* chartPanel = new Panel;
    chart_ = new HistoryChart;
    chart_->setFocusPolicy(Qt::TabFocus);
    chartPanel->body()->addWidget(chart_);
    note_ = Theme::label(QString(), Theme::Style::caption, Theme::Tone::secondary);
    chartPanel->body()->addWidget(note_);
    page->addWidget(chartPanel);

    auto* eventsPanel = new Panel(QStringLiteral("事件"));
    events_ = new HistoryEventTable(this);
    eventList_ = new QTreeView;
    eventList_->setModel(events_);
    eventList_->setAccessibleName(QStringLiteral("事件"));
    eventList_->setRootIsDecorated(false);
    eventList_->setUniformRowHeights(true);
    eventList_->setSelectionMode(QAbstractItemView::SingleSelection);
    eventList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventList_->setFrameShape(QFrame::NoFrame);
    eventList_->setFixedHeight(150);
    eventList_->header()->setStretchLastSection(true);
    eventList_->header()->resizeSection(0, 120);
    eventList_->viewport()->setAutoFillBackground(false);
    eventsPanel->body()->addWidget(eventList_);
    noEvents_ = Theme::label(QStringLiteral("所选时间范围内没有事件"), Theme::Style::callout, Theme::Tone::secondary);
    eventsPanel->body()->addWidget(noEvents_);
    page->addWidget(eventsPanel);

    if (history_) {
        QObject::connect(spans_, &QButtonGroup::idClicked, this,
                         [this](int id) { history_->setSpan(static_cast<RecentSpan>(id)); });
        QObject::connect(export_, &QPushButton::clicked, this, [this] { history_->exportCSV(); });
        QObject::connect(history_.get(), &HistoryModel::shownChanged, this, &HistoryPage::showHistory);
        QObject::connect(history_.get(), &HistoryModel::problemChanged, this, &HistoryPage::showHistory);
        QObject::connect(history_.get(), &HistoryModel::spanChanged, this, &HistoryPage::showSpan);
    } else {
        for (auto* button : spans_->buttons()) {
            button->setEnabled(false);
        }
    }
    showSpan();
    showHistory();
}

HistoryPage::~HistoryPage() = default;

void HistoryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (history_) {
        history_->setActive(true);
    }
}

void HistoryPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (history_) {
        history_->setActive(false);
    }
}

void HistoryPage::showSpan() {
    const auto span = history_ ? history_->span() : RecentSpan::lastHour;
    spans_->button(static_cast<int>(span))->setChecked(true);
}

void HistoryPage::showHistory() {
    if (!history_) {
        chart_->setEmptyText(QStringLiteral("未记录历史数据"));
        chart_->setAccessibleName(QStringLiteral("历史曲线"));
        chart_->setAccessibleDescription(QStringLiteral("未记录历史数据"));
        export_->setEnabled(false);
        note_->hide();
        events_->setRows({});
        eventList_->hide();
        return;
    }
    const auto& shown = history_->shown();
    chart_->setEmptyText(history_->problem().value_or(QStringLiteral("暂无历史数据")));
    chart_->show(&shown, history_->shownFrom(), history_->shownTo());
    // Set only when they change: each change is announced to assistive technology, and this runs once a second.
    const auto name = Display::chartName(history_->shownSpan());
    const auto description = history_->problem().value_or(Display::chartDescription(shown));
    if (chart_->accessibleName() != name) {
        chart_->setAccessibleName(name);
    }
    if (chart_->accessibleDescription() != description) {
        chart_->setAccessibleDescription(description);
    }
    export_->setEnabled(shown.board.has_value());
    note_->setText(QStringLiteral("橙色区域为市电中断；线为平均值，浅色带为最低至最高值。"));
    note_->setVisible(!shown.points.empty());

    std::vector<HistoryEventTable::Row> rows;
    for (auto event = shown.events.rbegin(); event != shown.events.rend(); ++event) {
        rows.emplace_back(Display::eventTime(event->time), Display::eventText(*event, shown.outages));
    }
    events_->setRows(std::move(rows));
    eventList_->setVisible(!shown.events.empty());
    noEvents_->setVisible(shown.events.empty());
}

} // namespace quelmar
