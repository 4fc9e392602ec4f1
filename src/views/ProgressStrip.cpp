#include "views/ProgressStrip.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/Theme.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QTimerEvent>

namespace quelmar {

namespace {

constexpr int spokes = 10;

} // namespace

Spinner::Spinner(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(16, 16);
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    auto colour = palette().color(QPalette::WindowText);
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke is darkest; those behind it fade.
        colour.setAlphaF(static_cast<float>(0.15 + 0.85 * ((i + spokes - step_) % spokes) / (spokes - 1)));
        painter.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -3.5), QPointF(0, -7));
        painter.rotate(360.0 / spokes);
    }
}

void Spinner::showEvent(QShowEvent*) {
    if (!timer_) {
        timer_ = startTimer(90);
    }
}

void Spinner::hideEvent(QHideEvent*) {
    if (timer_) {
        killTimer(timer_);
        timer_ = 0;
    }
}

void Spinner::timerEvent(QTimerEvent*) {
    step_ = (step_ + 1) % spokes;
    update();
}

ProgressStrip::ProgressStrip(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(18, 8, 18, 8);
    row->setSpacing(10);
    spinner_ = new Spinner;
    caption_ = Theme::label(QString(), Theme::Style::callout);
    bar_ = new QProgressBar;
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(8);
    row->addWidget(spinner_);
    row->addWidget(caption_);
    row->addWidget(bar_, 1);
    row->addStretch();

    for (const auto signal :
         {&AppModel::operationChanged, &AppModel::progressChanged, &AppModel::progressTextChanged}) {
        QObject::connect(&model_, signal, this, &ProgressStrip::showProgress);
    }
    showProgress();
}

void ProgressStrip::showProgress() {
    const auto& operation = model_.operation();
    setVisible(operation.has_value());
    if (!operation) {
        return;
    }
    const bool bar = Display::showsProgressBar(operation);
    caption_->setText(bar ? model_.progressText() : *operation);
    bar_->setVisible(bar);
    bar_->setValue(static_cast<int>(std::lround(std::clamp(model_.progress(), 0.0, 1.0) * 1000)));
    spinner_->setVisible(!bar);
}

} // namespace quelmar
