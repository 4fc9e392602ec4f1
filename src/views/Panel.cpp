#include "views/Panel.h"

#include "views/Icons.h"
#include "views/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace quelmar {

Panel::Panel(const QString& title, const QString& symbol, QWidget* parent)
    : QFrame(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 11, 14, 11);
    outer->setSpacing(10);
    if (!title.isEmpty()) {
        auto* header = new QHBoxLayout;
        header->setSpacing(6);
        if (!symbol.isEmpty()) {
            header->addWidget(new Icons::IconView(Icons::symbol(symbol, Theme::Tone::secondary), 16));
        }
        auto* label = new QLabel(title);
        label->setFont(Theme::font(Theme::Style::headline));
        header->addWidget(label);
        header->addStretch();
        outer->addLayout(header);
    }
    body_ = new QVBoxLayout;
    body_->setContentsMargins(0, 0, 0, 0);
    outer->addLayout(body_);
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::panelEdge(palette()), 1));
    painter.setBrush(Theme::panelFill(palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
}

Divider::Divider(QWidget* parent)
    : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Theme::panelEdge(palette()));
}

} // namespace quelmar
