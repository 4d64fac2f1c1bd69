#include "app/plot_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <string>

#include "app/default_error.h"
#include "app/file_dialog.h"
#include "app/plot_view.h"
#include "samples/sample_csv.h"

namespace tarvik {

namespace {

// New samples are drawn at most this often: 40 frames a second.
constexpr int kFrameMs = 25;

// Runs a button's handler; its error is shown, not lost in the event loop.
template <typename F>
auto Shown(F handler) {
    return [handler] {
        try {
            handler();
        } catch (const std::exception& error) {
            ShowDefaultError(error);
        }
    };
}

QDoubleSpinBox* RangeBox(QWidget* parent, double value) {
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(-1e15, 1e15);
    box->setDecimals(6);
    box->setValue(value);
    box->setEnabled(false);
    box->setKeyboardTracking(false);  // the range changes once the number is typed
    return box;
}

}  // namespace

TPlotWindow::TPlotWindow(samples::SampleFormat format, QWidget* owner)
    : QWidget(owner, Qt::Window), parser_(format), lastDir_(QDir::currentPath()) {
    setObjectName(QStringLiteral("PlotWindow"));
    setWindowTitle(QStringLiteral("Tarvik 2 - Plot"));
    BuildControls();
    frame_ = new QTimer(this);
    frame_->setSingleShot(true);
    frame_->setInterval(kFrameMs);
    connect(frame_, &QTimer::timeout, this, [this] { Frame(); });
    resize(900, 520);
}

void TPlotWindow::BuildControls() {
    auto* tools = new QHBoxLayout;
    PauseButton = new QPushButton(QStringLiteral("&Pause"), this);
    PauseButton->setCheckable(true);
    ClearButton = new QPushButton(QStringLiteral("C&lear"), this);
    FormatBox = new QComboBox(this);
    FormatBox->addItems({QStringLiteral("CSV"), QStringLiteral("Labels")});
    FormatBox->setCurrentIndex(parser_.Format() == samples::SampleFormat::kLabels ? 1 : 0);
    FormatBox->setToolTip(QStringLiteral("How a received line is read: numbers, or label:value pairs"));
    AutoscaleBox = new QCheckBox(QStringLiteral("&Autoscale"), this);
    AutoscaleBox->setChecked(true);
    YMinBox = RangeBox(this, -1);
    YMaxBox = RangeBox(this, 1);
    ExportCsvButton = new QPushButton(QStringLiteral("Export &CSV..."), this);
    ExportPngButton = new QPushButton(QStringLiteral("Export P&NG..."), this);
    tools->addWidget(PauseButton);
    tools->addWidget(ClearButton);
    tools->addWidget(FormatBox);
    tools->addSpacing(12);
    tools->addWidget(AutoscaleBox);
    tools->addWidget(new QLabel(QStringLiteral("from"), this));
    tools->addWidget(YMinBox);
    tools->addWidget(new QLabel(QStringLiteral("to"), this));
    tools->addWidget(YMaxBox);
    tools->addStretch();
    tools->addWidget(ExportCsvButton);
    tools->addWidget(ExportPngButton);

    View = new TPlotView(store_, this);
    auto* legend = new QVBoxLayout;
    for (int c = 0; c < samples::kMaxChannels; ++c) {
        auto* box = new QCheckBox(this);
        box->setObjectName(QStringLiteral("Channel%1").arg(c + 1));
        box->setChecked(true);
        box->setVisible(false);
        QPixmap swatch(12, 12);
        swatch.fill(TPlotView::ChannelColour(c));
        box->setIcon(QIcon(swatch));
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { View->SetChannelShown(c, on); });
        legend->addWidget(box);
        ChannelBoxes.push_back(box);
    }
    legend->addStretch();
    auto* middle = new QHBoxLayout;
    middle->addWidget(View, 1);
    middle->addLayout(legend);

    ReadoutLabel = new QLabel(this);
    ReadoutLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CountsLabel = new QLabel(this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(ReadoutLabel, 1);
    bottom->addWidget(CountsLabel);

    auto* all = new QVBoxLayout(this);
    all->addLayout(tools);
    all->addLayout(middle, 1);
    all->addLayout(bottom);

    connect(PauseButton, &QPushButton::toggled, this, [this](bool on) { View->SetPaused(on); });
    connect(ClearButton, &QPushButton::clicked, this, Shown([this] { ClearClick(); }));
    connect(FormatBox, &QComboBox::activated, this, Shown([this] { FormatChanged(); }));
    connect(AutoscaleBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) {
            // Fixed where the curves stand now, not at an arbitrary range.
            const auto [low, high] = View->YRange();
            YMinBox->setValue(low);
            YMaxBox->setValue(high);
        }
        YMinBox->setEnabled(!on);
        YMaxBox->setEnabled(!on);
        YRangeChanged();
    });
    connect(YMinBox, &QDoubleSpinBox::valueChanged, this, [this] { YRangeChanged(); });
    connect(YMaxBox, &QDoubleSpinBox::valueChanged, this, [this] { YRangeChanged(); });
    connect(ExportCsvButton, &QPushButton::clicked, this, Shown([this] { ExportCsvClick(); }));
    connect(ExportPngButton, &QPushButton::clicked, this, Shown([this] { ExportPngClick(); }));
    View->OnReadout = [this](const QString& text) { ReadoutLabel->setText(text); };
    View->OnYRangeDragged = [this](double low, double high) {
        AutoscaleBox->setChecked(false);
        YMinBox->setValue(low);
        YMaxBox->setValue(high);
    };
    ShowCounts();
}

void TPlotWindow::Feed(std::string_view bytes, cport::LineTime first, cport::LineTime last) {
    received_.clear();
    lines_.Add(bytes, first, last, received_);
    for (const samples::SampleLine& line : received_) {
        if (!parser_.Parse(line.text, values_))
            continue;
        if (!hasOrigin_) {
            hasOrigin_ = true;
            View->SetOrigin(line.time.wallUs);
        }
        store_.Add(line.time.wallUs, values_);
    }
    if (!received_.empty() && !frame_->isActive()) {
        // Paced from the last frame's start, so the time a frame takes does
        // not lower the rate.
        const qint64 since = lastFrame_.isValid() ? lastFrame_.elapsed() : kFrameMs;
        frame_->start(static_cast<int>(std::clamp<qint64>(kFrameMs - since, 0, kFrameMs)));
    }
}

void TPlotWindow::Frame() {
    lastFrame_.start();
    if (parser_.ChannelNames().size() != namesShown_)
        ShowNames();
    ShowCounts();
    View->SamplesAdded();
}

void TPlotWindow::ShowNames() {
    const auto& names = parser_.ChannelNames();
    QStringList shown;
    for (std::size_t c = 0; c < ChannelBoxes.size(); ++c) {
        const bool named = c < names.size();
        if (named) {
            shown << QString::fromStdString(names[c]);
            ChannelBoxes[c]->setText(shown.back());
        }
        ChannelBoxes[c]->setVisible(named);
    }
    View->SetChannelNames(shown);
    namesShown_ = names.size();
}

void TPlotWindow::ShowCounts() {
    std::size_t held = 0;
    for (int c = 0; c < store_.ChannelCount(); ++c) held = std::max(held, store_.Count(c));
    CountsLabel->setText(QStringLiteral("%1 lines read, %2 skipped; %3 samples a channel")
                             .arg(parser_.Parsed())
                             .arg(parser_.Skipped() + lines_.TooLong())
                             .arg(held));
}

void TPlotWindow::ClearClick() {
    store_.Clear();
    hasOrigin_ = false;
    View->Follow();
    ShowCounts();
}

void TPlotWindow::FormatChanged() {
    const auto format =
        FormatBox->currentIndex() == 1 ? samples::SampleFormat::kLabels : samples::SampleFormat::kCsv;
    if (format == parser_.Format())
        return;
    // The channels of one form mean nothing in the other: a fresh start.
    parser_ = samples::SampleParser(format);
    ClearClick();
    ShowNames();
}

void TPlotWindow::YRangeChanged() {
    if (AutoscaleBox->isChecked()) {
        View->SetYRange(std::nullopt);
    } else {
        View->SetYRange(std::pair{YMinBox->value(), YMaxBox->value()});
    }
}

void TPlotWindow::ExportCsv(const QString& fileName) const {
    samples::WriteStoreCsv(store_, parser_.ChannelNames(), QFile::encodeName(fileName).toStdString());
}

void TPlotWindow::ExportPng(const QString& fileName) const {
    if (!View->grab().save(fileName, "PNG"))
        throw EPlotExport("Cannot write the picture " + fileName.toStdString());
}

void TPlotWindow::ExportCsvClick() {
    const FileDialogAnswer file = ShowFileDialog({.kind = FileDialogKind::Save,
                                                  .caption = QStringLiteral("Export samples"),
                                                  .initialDir = lastDir_,
                                                  .fileName = QStringLiteral("samples.csv"),
                                                  .filter = QStringLiteral("CSV|*.csv|All files|*")});
    if (!file)
        return;
    lastDir_ = QFileInfo(*file).absolutePath();
    ExportCsv(*file);
}

void TPlotWindow::ExportPngClick() {
    const FileDialogAnswer file = ShowFileDialog({.kind = FileDialogKind::Save,
                                                  .caption = QStringLiteral("Export the plot"),
                                                  .initialDir = lastDir_,
                                                  .fileName = QStringLiteral("plot.png"),
                                                  .filter = QStringLiteral("PNG|*.png|All files|*")});
    if (!file)
        return;
    lastDir_ = QFileInfo(*file).absolutePath();
    ExportPng(*file);
}

}  // namespace tarvik
