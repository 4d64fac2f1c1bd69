#include "app/plot_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace tarvik {

namespace {

constexpr int kLeft = 64, kRight = 10, kTop = 8, kBottom = 24;
// The narrowest time range the wheel zooms to: 1 ms.
constexpr double kLeastSpanUs = 1000;
constexpr double kWheelStep = 0.8;  // one notch in: 80 % of the range

// About `count` round steps (1, 2 or 5 times a power of ten) over the range.
double TickStep(double span, int count) {
    const double raw = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (power * factor >= raw)
            return power * factor;
    }
    return power * 10;
}

// The multiples of `step` from `low` to `high`; none where the step cannot
// tell them apart (a range narrower than the numbers' precision).
std::vector<double> Ticks(double low, double high, double step) {
    std::vector<double> ticks;
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(low) || !std::isfinite(high))
        return ticks;
    const double first = std::ceil(low / step);
    const double last = std::floor(high / step);
    if (!(last - first < 200))
        return ticks;
    for (double k = first; k <= last; ++k) {
        if (ticks.empty() || k * step != ticks.back())
            ticks.push_back(k * step);
    }
    return ticks;
}

// Pixel places far outside the plot are drawn at its edge's distance, so a
// curve zoomed far past stays a line QPainter can clip.
double Clamped(double pixel) { return std::isnan(pixel) ? 0 : std::clamp(pixel, -1e6, 1e6); }

QString Number(double value) { return QString::number(value, 'g', 6); }

}  // namespace

TPlotView::TPlotView(const samples::SampleStore& store, QWidget* parent)
    : QWidget(parent), store_(store) {
    shown_.fill(true);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
    band_ = new QRubberBand(QRubberBand::Rectangle, this);
}

QColor TPlotView::ChannelColour(int channel) {
    // Sixteen colours apart from each other on white.
    static constexpr unsigned kColours[samples::kMaxChannels] = {
        0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
        0xbcbd22, 0x17becf, 0x000080, 0x800000, 0x008000, 0xb8860b, 0x4b0082, 0x000000};
    return QColor::fromRgb(kColours[channel % samples::kMaxChannels]);
}

void TPlotView::SetChannelShown(int channel, bool shown) {
    shown_[channel] = shown;
    update();
}

void TPlotView::SetYRange(std::optional<std::pair<double, double>> range) {
    if (range && !(range->first < range->second))
        range.reset();
    fixedY_ = range;
    if (fixedY_)
        std::tie(yLow_, yHigh_) = *fixedY_;
    update();
}

void TPlotView::SetPaused(bool paused) {
    paused_ = paused;
    if (!paused_ && following_)
        FollowStore();
    update();
}

void TPlotView::Follow() {
    following_ = true;
    FollowStore();
    update();
}

void TPlotView::SamplesAdded() {
    if (paused_)
        return;
    if (following_)
        FollowStore();
    update();
}

void TPlotView::FollowStore() {
    const auto [first, last] = store_.TimeSpan();
    // At least a second in view, so the first few samples do not fill it
    // edge to edge, and a little room at both ends, off the frame.
    const std::int64_t span = std::max<std::int64_t>(last - first, 1'000'000);
    from_ = first - span / 50;
    to_ = first + span + span / 50;
}

void TPlotView::SetTimeRange(double from, double to) {
    if (to - from < kLeastSpanUs) {
        const double middle = (from + to) / 2;
        from = middle - kLeastSpanUs / 2;
        to = middle + kLeastSpanUs / 2;
    }
    constexpr double kFar = 1e18;  // well inside int64_t, far beyond any arrival time
    from_ = static_cast<std::int64_t>(std::clamp(from, -kFar, kFar));
    to_ = static_cast<std::int64_t>(std::clamp(to, -kFar, kFar));
    following_ = false;
    update();
    if (OnViewChanged)
        OnViewChanged();
}

QRect TPlotView::PlotArea() const {
    return rect().adjusted(kLeft, kTop, -kRight, -kBottom);
}

double TPlotView::TimeAt(int x) const {
    const QRect area = PlotArea();
    return from_ + double(to_ - from_) * (x - area.left()) / std::max(area.width() - 1, 1);
}

double TPlotView::ValueAt(int y) const {
    const QRect area = PlotArea();
    return yHigh_ - (yHigh_ - yLow_) * (y - area.top()) / std::max(area.height() - 1, 1);
}

void TPlotView::paintEvent(QPaintEvent*) {
    ++frames_;
    const QRect area = PlotArea();
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.fillRect(area, Qt::white);

    // Decimated once per frame: the buckets give the autoscale and the curve.
    std::vector<std::vector<samples::SampleStore::Bucket>> curves(samples::kMaxChannels);
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (int c = 0; c < store_.ChannelCount(); ++c) {
        if (!shown_[c])
            continue;
        curves[c] = store_.Decimate(c, from_, to_, std::max(area.width(), 1));
        for (const auto& bucket : curves[c]) {
            low = std::min(low, bucket.min);
            high = std::max(high, bucket.max);
        }
    }
    if (fixedY_) {
        std::tie(yLow_, yHigh_) = *fixedY_;
    } else if (low <= high) {
        const double margin = high > low ? (high / 2 - low / 2) * 0.1 : std::max(std::abs(high), 1.0) * 0.5;
        constexpr double kMost = std::numeric_limits<double>::max();
        yLow_ = std::max(low - margin, -kMost);
        yHigh_ = std::min(high + margin, kMost);
        if (!(yLow_ < yHigh_)) {  // a margin too small to tell at such a size
            yLow_ = std::nextafter(low, -kMost);
            yHigh_ = std::nextafter(high, kMost);
        }
    }

    // The grid with its labels: values on the left, seconds since the first sample below.
    painter.setPen(QColor(0xdd, 0xdd, 0xdd));
    const QFontMetrics metrics(font());
    const double yStep = TickStep(yHigh_ - yLow_, std::max(area.height() / 40, 2));
    const auto yOf = [&](double value) {
        // In halves, so that a range across a double's whole span does not overflow.
        return Clamped(area.top() + (yHigh_ / 2 - value / 2) / (yHigh_ / 2 - yLow_ / 2) *
                                        (area.height() - 1));
    };
    for (const double value : Ticks(yLow_, yHigh_, yStep)) {
        const int y = static_cast<int>(std::lround(yOf(value)));
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(palette().windowText().color());
        painter.drawText(QRect(0, y - 8, kLeft - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         Number(std::abs(value) < yStep * 1e-9 ? 0 : value));
    }
    const double span = double(to_ - from_);
    const double xStep = TickStep(span / 1e6, std::max(area.width() / 90, 2)) * 1e6;
    const auto xOf = [&](double timeUs) {
        return area.left() + (timeUs - from_) / span * (area.width() - 1);
    };
    for (const double since : Ticks(double(from_ - originUs_), double(to_ - originUs_), xStep)) {
        const double t = since + double(originUs_);
        const int x = static_cast<int>(std::lround(xOf(t)));
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.setPen(palette().windowText().color());
        painter.drawText(QRect(x - 50, area.bottom() + 4, 100, metrics.height()), Qt::AlignCenter,
                         Number((t - originUs_) / 1e6) + QStringLiteral(" s"));
    }
    painter.setPen(palette().windowText().color());
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    painter.setClipRect(area);
    QPolygonF line;
    for (int c = 0; c < samples::kMaxChannels; ++c) {
        if (curves[c].empty())
            continue;
        line.clear();
        for (const auto& bucket : curves[c]) {
            const double x0 = xOf(double(bucket.first_us));
            const double x1 = xOf(double(bucket.last_us));
            line << QPointF(x0, yOf(bucket.first));
            line << QPointF((x0 + x1) / 2, yOf(bucket.min)) << QPointF((x0 + x1) / 2, yOf(bucket.max));
            line << QPointF(x1, yOf(bucket.last));
        }
        painter.setPen(QPen(ChannelColour(c), 1));
        painter.drawPolyline(line);
        if (curves[c].size() * 8 < std::size_t(area.width())) {
            // Few samples in view: each marked, so a lone one shows at all.
            painter.setBrush(ChannelColour(c));
            for (const auto& bucket : curves[c])
                painter.drawRect(QRectF(xOf(double(bucket.last_us)) - 1.5, yOf(bucket.last) - 1.5, 3, 3));
            painter.setBrush(Qt::NoBrush);
        }
    }
}

void TPlotView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const double at = TimeAt(static_cast<int>(event->position().x()));
    const double scale = std::pow(kWheelStep, notches);
    SetTimeRange(at - (at - from_) * scale, at + (to_ - at) * scale);
    event->accept();
}

void TPlotView::mousePressEvent(QMouseEvent* event) {
    dragStart_ = event->position().toPoint();
    if (event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
        drag_ = Drag::kBand;
        band_->setGeometry(QRect(dragStart_, QSize()));
        band_->show();
    } else if (event->button() == Qt::LeftButton) {
        drag_ = Drag::kPan;
        panFrom_ = from_;
        panTo_ = to_;
        setCursor(Qt::ClosedHandCursor);
    }
}

void TPlotView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (drag_ == Drag::kBand) {
        band_->setGeometry(QRect(dragStart_, at).normalized());
    } else if (drag_ == Drag::kPan) {
        const double perPixel = double(panTo_ - panFrom_) / std::max(PlotArea().width() - 1, 1);
        const double shift = (at.x() - dragStart_.x()) * perPixel;
        SetTimeRange(panFrom_ - shift, panTo_ - shift);
    }
    Readout(at);
}

void TPlotView::mouseReleaseEvent(QMouseEvent* event) {
    const Drag drag = std::exchange(drag_, Drag::kNone);
    unsetCursor();
    if (drag != Drag::kBand)
        return;
    band_->hide();
    const QRect chosen = QRect(dragStart_, event->position().toPoint()).normalized();
    if (chosen.width() < 4)
        return;  // a click, not a rectangle
    if (chosen.height() >= 4 && OnYRangeDragged)
        OnYRangeDragged(ValueAt(chosen.bottom()), ValueAt(chosen.top()));
    SetTimeRange(TimeAt(chosen.left()), TimeAt(chosen.right()));
}

void TPlotView::mouseDoubleClickEvent(QMouseEvent*) {
    Follow();
    if (OnViewChanged)
        OnViewChanged();
}

void TPlotView::Readout(QPoint at) {
    if (!OnReadout || !PlotArea().contains(at))
        return;
    const auto timeUs = static_cast<std::int64_t>(TimeAt(at.x()));
    QString text = QStringLiteral("%1 s").arg(Number((timeUs - originUs_) / 1e6));
    for (int c = 0; c < store_.ChannelCount(); ++c) {
        if (!shown_[c])
            continue;
        if (const auto nearest = store_.Nearest(c, timeUs))
            text += QStringLiteral("   %1: %2").arg(names_.value(c, QString::number(c + 1)), Number(nearest->second));
    }
    OnReadout(text);
}

}  // namespace tarvik
