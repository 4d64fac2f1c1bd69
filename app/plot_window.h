#pragma once
// The plot: a window of its own beside the main window, so that the logs, the
// command line and the Line page stay in sight while it is watched. It reads
// the received bytes it is given as lines of numbers (samples/) into a store
// of its own and draws them (TPlotView) at most once a frame, only when
// something new came or the view changed.
//
// Controls: Pause (the store keeps filling; the view stays), Clear, the
// line format, Autoscale or a fixed y range, the export of the samples (CSV)
// and of the view (PNG) through the program's file dialogs, a legend with a
// tick per channel to show or hide it, the pointer's readout and the counts.
// Main thread only.

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "samples/sample_format.h"
#include "samples/sample_lines.h"
#include "samples/sample_parser.h"
#include "samples/sample_store.h"
#include "serial/device/time_line.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTimer;

namespace tarvik {

class TPlotView;

// The view's picture could not be written; what() names the file.
class EPlotExport : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TPlotWindow : public QWidget {
  public:
    // A window of its own, destroyed with `owner`.
    TPlotWindow(samples::SampleFormat format, QWidget* owner);

    // Received bytes with the times the device layer took: `first` of the
    // first byte, `last` of the others.
    void Feed(std::string_view bytes, cport::LineTime first, cport::LineTime last);

    // Draws what was fed now, not at the next frame.
    void ShowNow() { Frame(); }

    const samples::SampleStore& Store() const { return store_; }
    const std::vector<std::string>& ChannelNames() const { return parser_.ChannelNames(); }
    samples::SampleFormat Format() const { return parser_.Format(); }

    // Writes the samples held, or the view as drawn now; raise on failure.
    void ExportCsv(const QString& fileName) const;
    void ExportPng(const QString& fileName) const;

    TPlotView* View = nullptr;
    QPushButton* PauseButton = nullptr;      // "&Pause", checkable
    QPushButton* ClearButton = nullptr;      // "C&lear"
    QComboBox* FormatBox = nullptr;          // "CSV", "Labels"
    QCheckBox* AutoscaleBox = nullptr;       // "&Autoscale", ticked
    QDoubleSpinBox* YMinBox = nullptr;       // the fixed range, enabled without Autoscale
    QDoubleSpinBox* YMaxBox = nullptr;
    QPushButton* ExportCsvButton = nullptr;  // "Export &CSV..."
    QPushButton* ExportPngButton = nullptr;  // "Export P&NG..."
    std::vector<QCheckBox*> ChannelBoxes;    // one per channel, shown once it has a name
    QLabel* ReadoutLabel = nullptr;          // the pointer's time and values
    QLabel* CountsLabel = nullptr;           // lines read and skipped

  private:
    void BuildControls();
    void ShowNames();
    void ShowCounts();
    void Frame();
    void ClearClick();
    void FormatChanged();
    void YRangeChanged();
    void ExportCsvClick();
    void ExportPngClick();

    samples::SampleLines lines_;
    samples::SampleParser parser_;
    samples::SampleStore store_;
    std::vector<samples::SampleLine> received_;
    std::vector<samples::ChannelValue> values_;
    bool hasOrigin_ = false;
    std::size_t namesShown_ = 0;
    QTimer* frame_ = nullptr;
    QElapsedTimer lastFrame_;  // started by each frame
    QString lastDir_;
};

}  // namespace tarvik
