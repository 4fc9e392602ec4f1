#pragma once

#include "history/HistoryStore.h"

#include <QString>
#include <QWidget>

class QPainter;

namespace quelmar {

// The history as a time chart drawn with QPainter: one lane for charge and load, one each for battery voltage,
// battery current and input voltage, over a shared time axis; outages shaded across all lanes. Each series is a
// line of means in a band of its lows and highs, reduced to one point per pixel column, so a month draws as fast as
// an hour.
class HistoryChart final : public QWidget {
    Q_OBJECT

public:
    explicit HistoryChart(QWidget* parent = nullptr);

    // What to draw: data (kept by its owner, who calls this again when it changes) from one time to another.
    void show(const HistorySpan* data, HistoryTime from, HistoryTime to);
    // Shown in place of the chart when there are no points.
    void setEmptyText(const QString& text);
    // Draws into any device: the widget, or a benchmark's image.
    void paint(QPainter& painter, const QRect& area) const;

    QSize sizeHint() const override { return {640, 340}; }
    QSize minimumSizeHint() const override { return {360, 300}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const HistorySpan* data_ = nullptr;
    HistoryTime from_{};
    HistoryTime to_{};
    QString emptyText_;
};

} // namespace quelmar
