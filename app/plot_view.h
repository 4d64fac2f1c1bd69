#pragma once
// The curves of a sample store, drawn over its decimated buckets: one
// polyline per shown channel through each bucket's first, least, greatest and
// last value, so a spike inside a bucket is never lost and a frame costs the
// same whether the store holds a thousand samples or a million.
//
// x is the samples' arrival time; y is fitted to what is in view (autoscale)
// or a fixed range. The mouse: the wheel zooms the time around the pointer,
// a drag pans, a drag with the right button (or Shift) zooms to the drawn
// rectangle, a double click goes back to following the newest samples. The
// pointer's time and the channels' nearest values are told through
// OnReadout.
// Main thread only.

#include <QPoint>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "samples/sample_parser.h"
#include "samples/sample_store.h"

class QRubberBand;

namespace tarvik {

class TPlotView : public QWidget {
  public:
    // `store` must outlive the view.
    TPlotView(const samples::SampleStore& store, QWidget* parent);

    // The channel's colour, the same in the legend.
    static QColor ChannelColour(int channel);

    void SetChannelShown(int channel, bool shown);
    // The names the readout gives the channels (index = channel).
    void SetChannelNames(QStringList names) { names_ = std::move(names); }
    bool ChannelShown(int channel) const { return shown_[channel]; }

    // Fixed y range; nothing: fitted to what is in view.
    void SetYRange(std::optional<std::pair<double, double>> range);
    // The y range of the last frame.
    std::pair<double, double> YRange() const { return {yLow_, yHigh_}; }

    // A paused view draws no new samples: its time range stays (the mouse
    // still zooms and pans it).
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }

    // Back to following the newest samples (the whole store in view).
    void Follow();
    bool Following() const { return following_; }
    // The time range in view, µs.
    std::pair<std::int64_t, std::int64_t> TimeRange() const { return {from_, to_}; }

    // New samples came: drawn at the next frame unless paused.
    void SamplesAdded();
    // Times on the axis count from here (the first sample since Clear).
    void SetOrigin(std::int64_t originUs) { originUs_ = originUs; }

    // Frames drawn since the view was made.
    std::uint64_t Frames() const { return frames_; }

    std::function<void(const QString&)> OnReadout;
    // The user zoomed or panned, or dragged a y range (fixed from then on).
    std::function<void()> OnViewChanged;
    std::function<void(double low, double high)> OnYRangeDragged;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QRect PlotArea() const;
    double TimeAt(int x) const;
    double ValueAt(int y) const;
    void FollowStore();
    void SetTimeRange(double from, double to);
    void Readout(QPoint at);

    const samples::SampleStore& store_;
    std::array<bool, samples::kMaxChannels> shown_;
    QStringList names_;
    std::int64_t from_ = 0, to_ = 1'000'000;
    std::int64_t originUs_ = 0;
    double yLow_ = -1, yHigh_ = 1;
    std::optional<std::pair<double, double>> fixedY_;
    bool following_ = true;
    bool paused_ = false;
    std::uint64_t frames_ = 0;

    enum class Drag { kNone, kPan, kBand };
    Drag drag_ = Drag::kNone;
    QPoint dragStart_;
    std::int64_t panFrom_ = 0, panTo_ = 0;
    QRubberBand* band_ = nullptr;
};

}  // namespace tarvik
