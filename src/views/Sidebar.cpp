#include "views/Sidebar.h"

#include "controller/AppModel.h"
#include "views/Icons.h"
#include "views/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace quelmar {

Sidebar::Sidebar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setMinimumWidth(190);
    setMaximumWidth(230);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 16, 10, 14);
    column->setSpacing(20);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    updateButton_ = new QToolButton;
    updateButton_->setFixedSize(58, 58);
    updateButton_->setIcon(Icons::application());
    updateButton_->setIconSize(QSize(46, 46));
    updateButton_->setAutoRaise(true);
    updateButton_->setCursor(Qt::PointingHandCursor);
    badge_ = new QLabel(QStringLiteral("Update"), updateButton_);
    auto badgeFont = font();
    badgeFont.setPixelSize(10);
    badgeFont.setBold(true);
    badge_->setFont(badgeFont);
    badge_->setAlignment(Qt::AlignCenter);
    badge_->setAttribute(Qt::WA_TransparentForMouseEvents);
    badge_->setStyleSheet(QStringLiteral("QLabel { color: black; background: %1; border-radius: 7px; padding: 0 5px; }")
                              .arg(Theme::badgeBackground().name()));
    badge_->adjustSize();
    badge_->setFixedHeight(14);
    badge_->move((58 - badge_->width()) / 2, 58 - 14 - 1);
    header->addWidget(updateButton_);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    auto* name = new QLabel(QStringLiteral("Quelmar"));
    name->setFont(Theme::font(Theme::Style::title3));
    auto* subtitle = new QLabel(QStringLiteral("电源管理"));
    subtitle->setFont(Theme::font(Theme::Style::caption));
    Theme::setTone(subtitle, Theme::Tone::secondary);
    titles->addStretch();
    titles->addWidget(name);
    titles->addWidget(subtitle);
    titles->addStretch();
    header->addLayout(titles, 1);
    column->addLayout(header);

    pages_ = new QListWidget;
    pages_->setFrameShape(QFrame::NoFrame);
    pages_->setIconSize(QSize(18, 18));
    pages_->setSpacing(1);
    pages_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pages_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pages_->setFocusPolicy(Qt::StrongFocus);
    pages_->viewport()->setAutoFillBackground(false);
    // The keyboard's current row is outlined, not drawn as a filled focus frame that looks like an editor.
    pages_->setStyleSheet(QStringLiteral("QListWidget { background: transparent; outline: 0; }"
                                         "QListWidget::item { padding: 4px 3px; border-radius: 6px;"
                                         " border: 1px solid transparent; }"
                                         "QListWidget::item:selected { background: palette(highlight);"
                                         " color: palette(highlighted-text); }"
                                         "QListWidget::item:focus:!selected { background: transparent;"
                                         " border: 1px solid palette(highlight); }"));
    for (const auto page : Display::pages) {
        auto* item = new QListWidgetItem(Icons::symbol(Display::symbol(page), Theme::Tone::mint), Display::title(page));
        item->setData(Qt::UserRole, static_cast<int>(page));
        pages_->addItem(item);
    }
    pages_->setCurrentRow(0);
    column->addWidget(pages_, 1);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(8);
    auto* indicatorRow = new QHBoxLayout;
    indicatorRow->setSpacing(6);
    indicatorDot_ = new Icons::IconView(QIcon(), 10);
    indicator_ = new QLabel;
    indicator_->setFont(Theme::font(Theme::Style::caption));
    indicatorRow->addWidget(indicatorDot_);
    indicatorRow->addWidget(indicator_, 1);
    footer->addLayout(indicatorRow);
    auto* version = new QLabel(Display::edition(model_.version()));
    version->setFont(Theme::font(Theme::Style::caption2));
    Theme::setTone(version, Theme::Tone::secondary);
    footer->addWidget(version);
    column->addLayout(footer);

    QObject::connect(updateButton_, &QToolButton::clicked, this, [this] { model_.updateClicked(); });
    QObject::connect(pages_, &QListWidget::itemSelectionChanged, this, &Sidebar::pageChanged);
    QObject::connect(&model_, &AppModel::updateChanged, this, &Sidebar::showUpdate);
    QObject::connect(&model_, &AppModel::operationChanged, this, &Sidebar::showUpdate);
    QObject::connect(&model_, &AppModel::checkingChanged, this, &Sidebar::showUpdate);
    QObject::connect(&model_, &AppModel::connectedChanged, this, &Sidebar::showConnection);
    showUpdate();
    showConnection();
}

std::optional<Display::Page> Sidebar::page() const {
    const auto selected = pages_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<Display::Page>(selected.front()->data(Qt::UserRole).toInt());
}

void Sidebar::setPage(std::optional<Display::Page> page) {
    if (!page) {
        pages_->clearSelection();
        return;
    }
    pages_->setCurrentRow(static_cast<int>(*page));
}

void Sidebar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        // Style sheets resolve palette() colours when they are set.
        pages_->setStyleSheet(pages_->styleSheet());
    }
}

void Sidebar::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Theme::sidebarBackground(palette()));
}

void Sidebar::showUpdate() {
    const auto& update = model_.update();
    updateButton_->setEnabled(!model_.operation() && !model_.checking());
    updateButton_->setToolTip(Display::updateButtonToolTip(update));
    updateButton_->setAccessibleName(Display::updateButtonName(update));
    badge_->setVisible(update.has_value());
}

void Sidebar::showConnection() {
    const auto& connected = model_.connected();
    const auto tone = connected ? Theme::Tone::mint : Theme::Tone::secondary;
    indicatorDot_->setIcon(Icons::symbol(QStringLiteral("circle.fill"), tone));
    indicator_->setText(Display::connectionIndicator(connected));
    Theme::setTone(indicator_, tone);
}

} // namespace quelmar
