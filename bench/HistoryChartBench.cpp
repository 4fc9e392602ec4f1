// The history page's chart from a simulated year: the store's reading of a span (on the page's reading thread) and
// the chart's drawing (on the window's), each and together. Target for 30 days: under 100 ms in all.
#include "SimulatedYear.h"
#include "views/HistoryChart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

using namespace quelmar;
using namespace quelmar::bench;

namespace {

// The chart as wide as the window gives it at its default size, drawn into an image as the widget paints itself.
struct Drawing {
    HistoryChart chart;
    QImage image{QSize(690, 340), QImage::Format_ARGB32_Premultiplied};

    void draw(const HistorySpan& span, RecentSpan which) {
        chart.resize(image.size());
        chart.show(&span, now - lengthOf(which), now);
        image.fill(Qt::white);
        QPainter painter(&image);
        chart.paint(painter, image.rect());
    }
};

void drawSpan(benchmark::State& state) {
    const auto which = static_cast<RecentSpan>(state.range(0));
    HistoryStore store(year().file);
    const auto span = store.recent(which, board, now);
    Drawing drawing;
    for (auto _ : state) {
        drawing.draw(span, which);
    }
    state.counters["points"] = static_cast<double>(span.points.size());
}

void readAndDrawSpan(benchmark::State& state) {
    const auto which = static_cast<RecentSpan>(state.range(0));
    HistoryStore store(year().file);
    Drawing drawing;
    for (auto _ : state) {
        const auto span = store.recent(which, board, now);
        drawing.draw(span, which);
    }
}

void spans(benchmark::internal::Benchmark* benchmark) {
    for (const auto which :
         {RecentSpan::lastHour, RecentSpan::last24Hours, RecentSpan::last7Days, RecentSpan::last30Days}) {
        benchmark->Arg(static_cast<int>(which));
    }
    benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(drawSpan)->Apply(spans);
BENCHMARK(readAndDrawSpan)->Apply(spans);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    year(); // built once, outside every measurement (about half a minute)
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
