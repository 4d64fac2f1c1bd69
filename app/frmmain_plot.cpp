// The plot's place in the main window: its button on the line page, and the
// received bytes handed to it with the device layer's times.

#include <QPushButton>

#include "app/frmmain.h"
#include "app/plot_window.h"
#include "capture/capture_load.h"
#include "serial/port/com_port.h"
#include "timeline/timestamp.h"

namespace tarvik {

void Tfrmmain::BuildPlotControls() {
    PlotButton = new QPushButton(QStringLiteral("Plot..."), TabSheet9);
    PlotButton->setObjectName(QStringLiteral("PlotButton"));
    PlotButton->setGeometry(606, 6, 60, 25);  // the free end of the first row
    PlotButton->setToolTip(QStringLiteral("Received lines of numbers as curves, in a window of its own"));
    connect(PlotButton, &QPushButton::clicked, this, [this] { OpenPlot(plotFormat_, false); });
}

void Tfrmmain::OpenPlot(samples::SampleFormat format, bool always) {
    if (!plot_)
        plot_ = new TPlotWindow(format, this);
    plotAlways_ = plotAlways_ || always;
    plot_->show();
    plot_->raise();
    plot_->activateWindow();
}

void Tfrmmain::PlotCapture(const std::string& path) {
    if (!plot_)
        return;
    capture::CaptureFile file(path);
    file.ForEach([this](const capture::CaptureRecord& record) {
        if (record.kind == capture::RecordKind::kReceived)
            plot_->Feed(record.bytes, record.time, record.time);
    });
    plot_->ShowNow();
}

void Tfrmmain::PlotReceived(const Text& bytes, const cport::TransferTimes& times) {
    if (!plot_ || !(plotAlways_ || plot_->isVisible()))
        return;
    // A read that took nothing has no times; then it is now.
    cport::LineTime first = times.first;
    if (!first.Valid()) {
        const timeline::Moment now = timeline::Now();
        first = {now.monotonicUs, now.wallUs};
    }
    plot_->Feed(bytes, first, times.last.Valid() ? times.last : first);
}

}  // namespace tarvik
