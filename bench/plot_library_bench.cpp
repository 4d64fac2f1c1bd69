// Which way to draw the plot, measured: Qt Charts, QCustomPlot (Debian's
// Qt 6 build) and our own QPainter over SampleStore::Decimate, each holding
// 16 channels of N points in a 1200 x 600 widget on the offscreen platform.
// Per way: the time to load the points, the first frame, then frames that
// each take 33 more points per channel (1000 lines/s at 30 frames/s) and
// drop as many old ones; and the memory the points took (VmRSS).
// plot_library_bench {charts|qcp|store} N
// Built only where qt6-charts-dev and libqcustomplot-dev are installed; not
// needed by the program.

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QtCharts>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <qcustomplot.h>
#include <tuple>
#include <string>
#include <vector>

#include "bench/window_setup.h"
#include "samples/sample_store.h"

namespace {

constexpr int kChannels = 16;
constexpr int kStep = 33;  // points per channel per frame

double Value(int channel, long i) { return std::sin(i * 0.001 * (channel + 1)) * (channel + 1) + (i % 7) * 0.01; }

// Our way, reduced to what the plot view does per frame.
class StoreView : public QWidget {
  public:
    samples::SampleStore store;
    std::int64_t from = 0, to = 1;

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const double sx = double(width() - 1) / double(to - from);
        const auto y = [this](double v) { return height() / 2 - v * height() / 40; };
        for (int c = 0; c < kChannels; ++c) {
            QPolygonF line;
            for (const auto& b : store.Decimate(c, from, to, width())) {
                const double x = double(b.first_us - from) * sx;
                line << QPointF(x, y(b.first)) << QPointF(x, y(b.min)) << QPointF(x, y(b.max))
                     << QPointF(x, y(b.last));
            }
            painter.setPen(QColor::fromHsv(c * 22, 200, 200));
            painter.drawPolyline(line);
        }
    }
};

struct Way {
    QWidget* widget = nullptr;
    std::function<void(long first)> append;  // kStep points per channel from `first` on
    std::function<void()> frame;
};

Way Charts(long n) {
    auto* chart = new QChart;
    auto* x = new QValueAxis;
    auto* y = new QValueAxis;
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    y->setRange(-17, 17);
    std::vector<QLineSeries*> series;
    for (int c = 0; c < kChannels; ++c) {
        auto* s = new QLineSeries;
        QList<QPointF> points;
        points.reserve(n);
        for (long i = 0; i < n; ++i) points.append(QPointF(i * 1e-3, Value(c, i)));
        s->replace(points);
        chart->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
        series.push_back(s);
    }
    x->setRange(0, n * 1e-3);
    auto* view = new QChartView(chart);
    return {view,
            [=](long k) {
                for (int c = 0; c < kChannels; ++c) {
                    QList<QPointF> points;
                    for (long i = k; i < k + kStep; ++i) points.append(QPointF(i * 1e-3, Value(c, i)));
                    series[c]->append(points);
                    series[c]->removePoints(0, kStep);
                }
                x->setRange((k + kStep - n) * 1e-3, (k + kStep) * 1e-3);
            },
            [=] { (void)view->grab(); }};
}

Way CustomPlot(long n) {
    auto* plot = new QCustomPlot;
    plot->yAxis->setRange(-17, 17);
    std::vector<QCPGraph*> graphs;
    for (int c = 0; c < kChannels; ++c) {
        QCPGraph* g = plot->addGraph();
        QVector<double> keys(n), values(n);
        for (long i = 0; i < n; ++i) {
            keys[i] = i * 1e-3;
            values[i] = Value(c, i);
        }
        g->setData(keys, values, true);
        g->setPen(QPen(QColor::fromHsv(c * 22, 200, 200)));
        graphs.push_back(g);
    }
    plot->xAxis->setRange(0, n * 1e-3);
    return {plot,
            [=](long k) {
                for (int c = 0; c < kChannels; ++c) {
                    QVector<double> keys, values;
                    for (long i = k; i < k + kStep; ++i) {
                        keys << i * 1e-3;
                        values << Value(c, i);
                    }
                    graphs[c]->addData(keys, values, true);
                    graphs[c]->data()->removeBefore((k + kStep - n) * 1e-3);
                }
                plot->xAxis->setRange((k + kStep - n) * 1e-3, (k + kStep) * 1e-3);
            },
            [=] {
                plot->replot(QCustomPlot::rpImmediateRefresh);
                (void)plot->grab();
            }};
}

Way Store(long n) {
    auto* view = new StoreView;
    const auto add = [view](long i) {
        std::vector<samples::ChannelValue> values(kChannels);
        for (int c = 0; c < kChannels; ++c) values[c] = {c, Value(c, i)};
        view->store.Add(i * 1000, values);
    };
    for (long i = 0; i < n; ++i) add(i);
    view->to = (n - 1) * 1000;
    return {view,
            [=](long k) {
                for (long i = k; i < k + kStep; ++i) add(i);
                std::tie(view->from, view->to) = view->store.TimeSpan();
            },
            [=] { (void)view->grab(); }};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plot_library_bench {charts|qcp|store} N\n");
        return 2;
    }
    bench::UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    const std::string way = argv[1];
    const long n = std::stol(argv[2]);
    const long long rss0 = bench::StatusBytes("VmRSS");
    QElapsedTimer clock;
    clock.start();
    Way w = way == "charts" ? Charts(n) : way == "qcp" ? CustomPlot(n) : Store(n);
    w.widget->resize(1200, 600);
    bench::ShowAndWait(*w.widget);
    const double loadMs = clock.restart();
    w.frame();
    const double firstMs = clock.elapsed();
    double sum = 0, worst = 0;
    constexpr int kFrames = 10;
    for (int f = 0; f < kFrames; ++f) {
        clock.restart();
        w.append(n + long(f) * kStep);
        w.frame();
        sum += clock.elapsed();
        worst = std::max(worst, double(clock.elapsed()));
    }
    std::printf("%s, 16 x %ld points: load %.0f ms, first frame %.0f ms, frame with 33 new points "
                "per channel %.1f ms (worst %.0f), memory %.0f MB\n",
                way.c_str(), n, loadMs, firstMs, sum / kFrames, worst,
                (bench::StatusBytes("VmRSS") - rss0) / 1e6);
    return 0;
}
