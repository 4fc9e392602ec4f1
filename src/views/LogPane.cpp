#include "views/LogPane.h"

#include "controller/AppModel.h"
#include "views/Theme.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace quelmar {

namespace {

QString timeOfDay(const QModelIndex& index) {
    return index.data(LogList::dateRole).toDateTime().toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

// One line: the time of day in the tertiary colour, then the text on a single line.
class LogDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        const auto* widget = option.widget;
        auto* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

        const bool selected = option.state & QStyle::State_Selected;
        const auto text = option.palette.color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text);
        const QFontMetrics metrics(option.font);
        auto area = option.rect.adjusted(4, 0, -4, 0);
        painter->save();
        painter->setFont(option.font);
        const auto time = timeOfDay(index);
        painter->setPen(selected ? text : Theme::colour(Theme::Tone::tertiary, option.palette));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, time);
        area.setLeft(area.left() + metrics.horizontalAdvance(time) + 8);
        painter->setPen(text);
        const auto line = index.data().toString().replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(line, Qt::ElideRight, area.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {100, QFontMetrics(option.font).height() + 3};
    }

    // A line too long for the pane shows whole in its tooltip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem&,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip) {
            return false;
        }
        QToolTip::showText(event->globalPos(), index.data().toString(), view);
        return true;
    }
};

} // namespace

LogPane::LogPane(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 6, 18, 8);
    column->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(4);
    auto* title = Theme::label(QStringLiteral("日志"), Theme::Style::caption, Theme::Tone::secondary);
    auto titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    header->addWidget(title);
    header->addStretch();
    auto* exportButton = new QToolButton;
    exportButton->setText(QStringLiteral("导出"));
    auto* clearButton = new QToolButton;
    clearButton->setText(QStringLiteral("清空"));
    for (auto* button : {exportButton, clearButton}) {
        button->setAutoRaise(true);
        button->setFont(Theme::font(Theme::Style::caption));
        header->addWidget(button);
    }
    column->addLayout(header);

    list_ = new QListView;
    list_->setModel(&model_.logs());
    list_->setItemDelegate(new LogDelegate(list_));
    list_->setAccessibleName(QStringLiteral("日志"));
    list_->setUniformItemSizes(true);
    list_->setFont(Theme::monospaced(11));
    list_->setFixedHeight(92);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    column->addWidget(list_);

    auto* copy = new QAction(list_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(copy);

    QObject::connect(copy, &QAction::triggered, this, &LogPane::copySelection);
    QObject::connect(exportButton, &QToolButton::clicked, this, [this] { model_.exportLogs(); });
    QObject::connect(clearButton, &QToolButton::clicked, this, [this] { model_.clearLogs(); });
    auto& logs = model_.logs();
    QObject::connect(&logs, &QAbstractItemModel::rowsInserted, this, &LogPane::scrollToNewest);
    QObject::connect(&logs, &QAbstractItemModel::rowsRemoved, this, &LogPane::scrollToNewest);
    QObject::connect(&logs, &QAbstractItemModel::modelReset, this, &LogPane::scrollToNewest);
}

void LogPane::scrollToNewest() {
    const auto rows = model_.logs().rowCount();
    if (rows > 0) {
        list_->scrollTo(model_.logs().index(rows - 1), QAbstractItemView::PositionAtBottom);
    }
}

void LogPane::copySelection() {
    auto rows = list_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const auto& row : rows) {
        lines << timeOfDay(row) + QLatin1Char(' ') + row.data().toString();
    }
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

} // namespace quelmar
