#include "views/HistoryChart.h"

#include "core/StatusBits.h"
#include "views/HistoryDisplay.h"
#include "views/Theme.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

namespace quelmar {

namespace {

using std::chrono::seconds;

// One pixel column of a series: the lowest, mean and highest value of the points that fall in it.
struct Column {
    double x;
    double low;
    double high;
    double sum;
    double count;
    bool breakBefore; // a gap (no samples, or the field absent) lies between this column and the one before
};

// The points of one field folded into pixel columns: however long the span, a series has one point per column.
std::vector<Column> columnsOf(const HistorySpan& data, HistoryField field, double left, double pixelsPerSecond,
                              HistoryTime from) {
    std::vector<Column> columns;
    const auto bucket = data.bucket.count();
    std::int64_t previous = 0;
    bool gap = false;
    for (const auto& point : data.points) {
        const auto& range = point[field];
        if (!range.present()) {
            gap = true;
            continue;
        }
        const auto time = point.time.time_since_epoch().count();
        gap = gap || (!columns.empty() && time - previous > 2 * bucket);
        previous = time;
        const double middle = static_cast<double>((point.time - from).count()) + static_cast<double>(bucket) / 2;
        const double x = std::floor(left + middle * pixelsPerSecond) + 0.5;
        const double samples = range.count;
        if (!columns.empty() && !gap && columns.back().x == x) {
            auto& column = columns.back();
            column.low = std::min(column.low, range.min);
            column.high = std::max(column.high, range.max);
            column.sum += range.sum;
            column.count += samples;
        } else {
            columns.push_back({x, range.min, range.max, range.sum, samples, gap});
        }
        gap = false;
    }
    return columns;
}

struct Scale {
    double low;
    double high;
    double step;
};

// 1, 2, 2.5 or 5 times a power of ten, at least rough.
double niceStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
        if (factor * power >= rough) {
            return factor * power;
        }
    }
    return 10 * power;
}

// Whole steps around the values, about as many as wanted.
Scale scaleOf(double low, double high, double minimumSpan, bool withZero, int wanted) {
    if (withZero) {
        low = std::min(low, 0.0);
        high = std::max(high, 0.0);
    }
    if (high - low < minimumSpan) {
        const double middle = (low + high) / 2;
        low = middle - minimumSpan / 2;
        high = middle + minimumSpan / 2;
    }
    const double step = niceStep((high - low) / wanted);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

// How each lane's values are scaled: charge and load always from 0 to 100 %; the rest around their values, with
// zero in sight where it means something (no current, no input).
struct LaneScale {
    bool percent;
    double minimumSpan;
    bool withZero;
};
constexpr std::array<LaneScale, Display::chartLanes> laneScales = {{
    {true, 100, true},
    {false, 0.5, false},
    {false, 0.5, true},
    {false, 1.0, true},
}};

// Spacing of the time axis's ticks, in seconds; the narrowest that leaves room for its labels is used.
constexpr std::int64_t tickSteps[] = {60,   120,   300,   600,   900,   1800,   3600,
                                      7200, 10800, 21600, 43200, 86400, 172800, 604800};
constexpr std::int64_t day = 86400;

// Mint first, as the window's accents are; a blue beside it that neither the mint nor the outages' orange hides.
QColor seriesColour(std::size_t index, const QPalette& palette) {
    if (index == 0) {
        return Theme::colour(Theme::Tone::mint, palette);
    }
    return Theme::isDark(palette) ? QColor(0x82, 0xaa, 0xff) : QColor(0x3a, 0x6f, 0xd8);
}

QColor withAlpha(QColor colour, int alpha) {
    colour.setAlpha(alpha);
    return colour;
}

// The horizontal stretches to shade: the outages of the events, and the buckets in which some sample was without
// the mains (when the board reports the mains at all), merged so that overlaps are not shaded twice.
std::vector<std::pair<double, double>> outageStretches(const HistorySpan& data, HistoryTime from, HistoryTime to,
                                                       const std::function<double(HistoryTime)>& xOf) {
    std::vector<std::pair<double, double>> stretches;
    const auto add = [&](HistoryTime start, HistoryTime end) {
        double left = xOf(std::max(start, from));
        double right = xOf(std::min(end, to));
        // However short, an outage stays in sight.
        if (right - left < 2) {
            left = (left + right) / 2 - 1;
            right = left + 2;
        }
        stretches.emplace_back(left, right);
    };
    for (const auto& outage : data.outages) {
        add(outage.start, outage.end.value_or(to));
    }
    const bool reportsMains = std::any_of(data.points.begin(), data.points.end(), [](const HistoryPoint& point) {
        return (point.statusAny & StatusBit::mains) != 0;
    });
    if (reportsMains) {
        for (const auto& point : data.points) {
            if (point.samples > 0 && !(point.statusAll & StatusBit::mains)) {
                add(point.time, point.time + data.bucket);
            }
        }
    }
    std::sort(stretches.begin(), stretches.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto& stretch : stretches) {
        if (!merged.empty() && stretch.first <= merged.back().second + 0.5) {
            merged.back().second = std::max(merged.back().second, stretch.second);
        } else {
            merged.push_back(stretch);
        }
    }
    return merged;
}

int decimalsFor(double step) {
    return step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
}

QString timeLabel(std::int64_t time, std::int64_t step, std::int64_t offset) {
    const auto when = QDateTime::fromSecsSinceEpoch(time).toLocalTime();
    // Days, and midnight on a shorter axis, are labelled with the date.
    return step >= day || (time + offset) % day == 0 ? when.toString(QStringLiteral("MM-dd"))
                                                     : when.toString(QStringLiteral("HH:mm"));
}

} // namespace

HistoryChart::HistoryChart(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void HistoryChart::show(const HistorySpan* span, HistoryTime from, HistoryTime to) {
    data_ = span;
    from_ = from;
    to_ = to;
    update();
}

void HistoryChart::setEmptyText(const QString& text) {
    emptyText_ = text;
    update();
}

void HistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, rect());
}

void HistoryChart::paint(QPainter& painter, const QRect& area) const {
    const auto& colours = palette();
    const auto secondary = Theme::colour(Theme::Tone::secondary, colours);
    const auto grid = Theme::panelEdge(colours);
    painter.save();
    const auto labelFont = Theme::font(Theme::Style::caption2);
    painter.setFont(labelFont);
    const QFontMetrics metrics(labelFont);
    if (!data_ || data_->points.empty() || to_ <= from_) {
        painter.setPen(secondary);
        painter.setFont(Theme::font(Theme::Style::callout));
        painter.drawText(area, Qt::AlignCenter, emptyText_);
        painter.restore();
        return;
    }
    const auto& span = *data_;

    // Lanes above the time axis, each under a header line with its series' latest values.
    const int axisWidth = metrics.horizontalAdvance(QStringLiteral("-10.5")) + 8;
    const int header = metrics.height() + 4;
    const int timeAxis = metrics.height() + 6;
    const int gap = 8;
    const int left = area.left() + axisWidth;
    const int right = area.right() - 4;
    const int plotHeight = area.height() - timeAxis - Display::chartLanes * header - (Display::chartLanes - 1) * gap;
    // The charge and load lane is the one read most: a larger share.
    constexpr double shares[Display::chartLanes] = {1.5, 1, 1, 1};
    constexpr double shareSum = 4.5;
    std::array<QRectF, Display::chartLanes> plots;
    double top = area.top();
    for (int lane = 0; lane < Display::chartLanes; ++lane) {
        const double height = plotHeight * shares[lane] / shareSum;
        plots[lane] = QRectF(left, top + header, right - left, height);
        top += header + height + gap;
    }

    const double length = static_cast<double>((to_ - from_).count());
    const double pixelsPerSecond = (right - left) / length;
    const auto xOf = [&](HistoryTime time) {
        return left + static_cast<double>((time - from_).count()) * pixelsPerSecond;
    };

    // Outages behind everything.
    const auto shade = withAlpha(Theme::colour(Theme::Tone::orange, colours), 46);
    for (const auto& [x0, x1] : outageStretches(span, from_, to_, xOf)) {
        for (const auto& plot : plots) {
            painter.fillRect(QRectF(QPointF(x0, plot.top()), QPointF(x1, plot.bottom())), shade);
        }
    }

    // The time axis: ticks far enough apart for their labels, on whole local minutes, hours or days.
    const auto to = to_.time_since_epoch().count();
    const auto from = from_.time_since_epoch().count();
    const std::int64_t offset = QDateTime::fromSecsSinceEpoch(to).toLocalTime().offsetFromUtc();
    const double labelRoom = metrics.horizontalAdvance(QStringLiteral("00:00")) + 28;
    std::int64_t step = std::end(tickSteps)[-1];
    for (const auto each : tickSteps) {
        if (static_cast<double>(each) * pixelsPerSecond >= labelRoom) {
            step = each;
            break;
        }
    }
    painter.setPen(QPen(grid, 1));
    const auto firstTick = [&] {
        const auto local = from + offset;
        return (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    }();
    for (auto tick = firstTick; tick <= to; tick += step) {
        const double x = std::floor(xOf(HistoryTime(seconds(tick)))) + 0.5;
        for (const auto& plot : plots) {
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        const auto label = timeLabel(tick, step, offset);
        const double width = metrics.horizontalAdvance(label);
        const double labelLeft = std::clamp(x - width / 2, static_cast<double>(left), right - width);
        painter.setPen(secondary);
        painter.drawText(QPointF(labelLeft, area.bottom() - metrics.descent()), label);
        painter.setPen(QPen(grid, 1));
    }

    for (int lane = 0; lane < Display::chartLanes; ++lane) {
        const auto series = Display::chartLane(lane);
        const auto& plot = plots[lane];
        std::vector<std::vector<Column>> columns;
        double low = INFINITY;
        double high = -INFINITY;
        for (const auto& each : series) {
            columns.push_back(columnsOf(span, each.field, left, pixelsPerSecond, from_));
            for (const auto& column : columns.back()) {
                low = std::min(low, column.low);
                high = std::max(high, column.high);
            }
        }
        const auto& how = laneScales[static_cast<std::size_t>(lane)];
        // As many grid lines as leave room for their labels.
        const int wanted = std::clamp(static_cast<int>(plot.height() / (metrics.height() * 1.6)), 1, 4);
        const auto scale = how.percent  ? Scale{0, 100, wanted >= 4 ? 25.0 : 50.0}
                           : low > high ? scaleOf(0, 1, how.minimumSpan, how.withZero, wanted)
                                        : scaleOf(low, high, how.minimumSpan, how.withZero, wanted);
        const auto yOf = [&](double value) {
            return plot.bottom() - (value - scale.low) / (scale.high - scale.low) * plot.height();
        };

        // The value grid, each line labelled.
        const int steps = static_cast<int>(std::lround((scale.high - scale.low) / scale.step));
        for (int i = 0; i <= steps; ++i) {
            const double value = scale.low + i * scale.step;
            const double y = std::floor(yOf(value)) + 0.5;
            painter.setPen(QPen(grid, 1));
            painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
            painter.setPen(secondary);
            const QRectF box(area.left(), y - metrics.height() / 2.0, axisWidth - 6, metrics.height());
            painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(value, 'f', decimalsFor(scale.step)));
        }

        // The series: the band of lows and highs, then the line of means, broken where there is nothing.
        painter.save();
        painter.setClipRect(plot.adjusted(0, -1, 0, 1));
        painter.setRenderHint(QPainter::Antialiasing);
        for (std::size_t index = 0; index < columns.size(); ++index) {
            const auto colour = seriesColour(index, colours);
            const auto& points = columns[index];
            std::size_t start = 0;
            while (start < points.size()) {
                auto end = start + 1;
                while (end < points.size() && !points[end].breakBefore) {
                    ++end;
                }
                QPolygonF band;
                QPolygonF line;
                for (auto i = start; i < end; ++i) {
                    band << QPointF(points[i].x, yOf(points[i].high));
                    line << QPointF(points[i].x, yOf(points[i].sum / points[i].count));
                }
                for (auto i = end; i-- > start;) {
                    band << QPointF(points[i].x, yOf(points[i].low));
                }
                painter.setPen(Qt::NoPen);
                painter.setBrush(withAlpha(colour, 60));
                painter.drawPolygon(band);
                painter.setBrush(Qt::NoBrush);
                // One pixel wide: Qt draws such lines on a fast path, a wider pen costs several times as much.
                painter.setPen(QPen(colour, 1));
                if (line.size() == 1) {
                    painter.drawLine(QPointF(line[0].x(), yOf(points[start].low)),
                                     QPointF(line[0].x(), yOf(points[start].high)));
                } else {
                    painter.drawPolyline(line);
                }
                start = end;
            }
        }
        painter.restore();

        // The header: each series' swatch and latest value.
        double x = plot.left();
        const double baseline = plot.top() - 4 - metrics.descent();
        for (std::size_t index = 0; index < series.size(); ++index) {
            const auto& each = series[index];
            const auto last = std::find_if(span.points.rbegin(), span.points.rend(),
                                           [&](const HistoryPoint& point) { return point[each.field].present(); });
            const auto text = Display::seriesValue(
                each, last == span.points.rend() ? std::nullopt : std::optional((*last)[each.field].mean()));
            const double middle = baseline - metrics.ascent() / 2.0 + 1;
            painter.fillRect(QRectF(x, middle - 1.5, 12, 3), seriesColour(index, colours));
            painter.setPen(colours.color(QPalette::WindowText));
            painter.drawText(QPointF(x + 17, baseline), text);
            x += 17 + metrics.horizontalAdvance(text) + 18;
        }
    }
    painter.restore();
}

} // namespace quelmar
