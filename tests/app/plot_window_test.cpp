// The plot as a person uses it: opened from the Line page's button over a
// port whose far end prints lines of numbers, driven with real mouse events
// (pause, the wheel, a drag, a rubber band, a channel's tick), and its
// exports read back equal to what the far end sent.

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <chrono>
#include <memory>
#include <string>

#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app/plot_view.h"
#include "app/plot_window.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "samples/sample_csv.h"
#include "serial/port/com_port.h"
#include "timeline/timestamp.h"

namespace tarvik {

class PlotWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<test::PtyPair> farEnd;
    std::unique_ptr<Tfrmmain> w;
    TPlotWindow* plot = nullptr;

    // The window with its port open and the plot opened by its button.
    void OpenByButton() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QTest::keyClick(w.get(), Qt::Key_L, Qt::AltModifier);
        QTest::mouseClick(w->PlotButton, Qt::LeftButton);
        plot = w->Plot();
        QVERIFY(plot);
        QVERIFY(QTest::qWaitForWindowExposed(plot));
    }

    // The far end prints `lines`; returns once the plot holds them all.
    void Send(const std::string& lines, std::size_t samplesAfter) {
        farEnd->Write(lines);
        QTRY_COMPARE_WITH_TIMEOUT(plot->Store().Count(0), samplesAfter, 10000);
        // And drawn: the counts move with the frame that takes them.
        QTRY_VERIFY_WITH_TIMEOUT(
            plot->CountsLabel->text().contains(QString::number(samplesAfter) + " samples"), 5000);
    }

    static bool Shows(TPlotView* view, QColor colour) {
        const QImage picture = view->grab().toImage();
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (picture.pixelColor(x, y) == colour)
                    return true;
        return false;
    }

  private slots:
    void init() {
        recorder = std::make_unique<test::BoxRecorder>();
        farEnd = std::make_unique<test::PtyPair>();
        w = std::make_unique<Tfrmmain>(nullptr, farEnd->Path());
    }
    void cleanup() {
        w.reset();
        farEnd.reset();
        QVERIFY2(recorder->boxes.empty(), recorder->boxes.empty() ? "" : recorder->boxes[0].text.c_str());
        recorder.reset();
    }

    void nothingIsReadUntilAsked() {
        farEnd->Write("1,2\n");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        farEnd->Write("3,4\n");
        QTRY_VERIFY_WITH_TIMEOUT(w->RX1->count() > 1, 5000);
        QVERIFY(!w->Plot());
        QCOMPARE(w->PlotButton->text(), QStringLiteral("Plot..."));
    }

    void theMouseDrivesTheView() {
        OpenByButton();
        std::string lines = "speed,load\n";
        for (int i = 0; i < 200; ++i)
            lines += std::to_string(i) + "," + std::to_string(100 - i) + "\n";
        Send(lines, 200);
        TPlotView* view = plot->View;
        QCOMPARE(plot->ChannelBoxes[0]->text(), QStringLiteral("speed"));
        QVERIFY(plot->ChannelBoxes[1]->isVisible() && !plot->ChannelBoxes[2]->isVisible());

        // A channel's tick hides its curve and shows it again.
        QVERIFY(Shows(view, TPlotView::ChannelColour(1)));
        QTest::mouseClick(plot->ChannelBoxes[1], Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!Shows(view, TPlotView::ChannelColour(1)));
        QVERIFY(Shows(view, TPlotView::ChannelColour(0)));
        QTest::mouseClick(plot->ChannelBoxes[1], Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(Shows(view, TPlotView::ChannelColour(1)));

        // Paused, the store fills and the view stays; going on, it follows.
        QTest::mouseClick(plot->PauseButton, Qt::LeftButton);
        const auto held = view->TimeRange();
        Send("500,500\n", 201);
        QCOMPARE(view->TimeRange(), held);
        QTest::mouseClick(plot->PauseButton, Qt::LeftButton);
        QVERIFY(view->TimeRange().second > plot->Store().TimeSpan().second);

        const QPoint middle = view->rect().center();

        // The wheel zooms the time around the pointer.
        const auto [from, to] = view->TimeRange();
        QWheelEvent wheel(middle, view->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        QVERIFY(!view->Following());
        const auto zoomed = view->TimeRange();
        QVERIFY(std::abs(double(zoomed.second - zoomed.first) - 0.8 * double(to - from)) < 2);
        QVERIFY(zoomed.first > from && zoomed.second < to);

        // A drag pans: dragged right, earlier times come into view.
        QTest::mousePress(view, Qt::LeftButton, {}, middle);
        QTest::mouseMove(view, middle + QPoint(100, 0));
        QTest::mouseRelease(view, Qt::LeftButton, {}, middle + QPoint(100, 0));
        const auto panned = view->TimeRange();
        QVERIFY(panned.first < zoomed.first);
        QVERIFY(std::abs((panned.second - panned.first) - (zoomed.second - zoomed.first)) <= 1);
        // The pointer's readout names the channels.
        QVERIFY2(plot->ReadoutLabel->text().contains("speed: "), qPrintable(plot->ReadoutLabel->text()));
        QVERIFY(plot->ReadoutLabel->text().contains("load: "));

        // A rubber band with the right button zooms to it and fixes the y range there.
        QVERIFY(plot->AutoscaleBox->isChecked() && !plot->YMinBox->isEnabled());
        QTest::mousePress(view, Qt::RightButton, {}, middle - QPoint(50, 40));
        QTest::mouseMove(view, middle + QPoint(50, 40));
        QTest::mouseRelease(view, Qt::RightButton, {}, middle + QPoint(50, 40));
        const auto banded = view->TimeRange();
        QVERIFY(banded.first > panned.first && banded.second < panned.second);
        QVERIFY(!plot->AutoscaleBox->isChecked() && plot->YMinBox->isEnabled());
        QVERIFY(plot->YMinBox->value() < plot->YMaxBox->value());
        QCOMPARE(view->YRange(), std::pair(plot->YMinBox->value(), plot->YMaxBox->value()));

        // A double click follows the newest samples again; Clear empties the plot.
        QTest::mouseDClick(view, Qt::LeftButton, {}, middle);
        QVERIFY(view->Following());
        QTest::mouseClick(plot->ClearButton, Qt::LeftButton);
        QCOMPARE(plot->Store().Count(0), std::size_t{0});
        // Numbers at a double's ends, scaled to fit: both curves drawn (no
        // endless grid, no overflow).
        QTest::mouseClick(plot->AutoscaleBox, Qt::LeftButton);
        QVERIFY(plot->AutoscaleBox->isChecked());
        Send("1.7976931348623157e308,-1.7976931348623157e308\n", 1);
        QVERIFY(Shows(view, TPlotView::ChannelColour(0)));
        QVERIFY(Shows(view, TPlotView::ChannelColour(1)));
    }

    void exportsReadBackWhatWasSent_data() {
        QTest::addColumn<bool>("labels");
        QTest::newRow("csv, opened by the button") << false;
        QTest::newRow("labels, opened at start") << true;
    }
    void exportsReadBackWhatWasSent() {
        QFETCH(bool, labels);
        if (labels) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
            w->OpenPlot(samples::SampleFormat::kLabels, true);  // as --plot --plot-format labels does
            plot = w->Plot();
            QVERIFY(QTest::qWaitForWindowExposed(plot));
        } else {
            OpenByButton();
        }
        const std::int64_t before = timeline::Now().wallUs;
        std::string lines = labels ? "" : "a,b\n";
        std::vector<std::pair<double, double>> sent;
        for (int i = 0; i < 300; ++i) {
            sent.emplace_back(i * 0.125 - 7, 1e-9 * i + 12345.678);
            const auto& [a, b] = sent.back();
            char line[96];
            std::snprintf(line, sizeof line, labels ? "a:%.17g b:%.17g\r\n" : "%.17g,%.17g\r\n", a, b);
            lines += line;
        }
        Send(lines, sent.size());
        const std::int64_t after = timeline::Now().wallUs;

        QTemporaryDir dir;
        QString asked;
        const auto previous = SetFileDialogFunction([&](const FileDialogRequest& request) {
            asked += request.filter;
            return FileDialogAnswer(dir.filePath(request.filter.startsWith("CSV") ? "s.csv" : "v.png"));
        });
        QTest::mouseClick(plot->ExportCsvButton, Qt::LeftButton);
        QTest::mouseClick(plot->ExportPngButton, Qt::LeftButton);
        SetFileDialogFunction(previous);
        QCOMPARE(asked, QStringLiteral("CSV|*.csv|All files|*PNG|*.png|All files|*"));

        QFile file(dir.filePath("s.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const samples::SampleCsv csv = samples::ReadSampleCsv(file.readAll().toStdString());
        QCOMPARE(csv.names, (std::vector<std::string>{"a", "b"}));
        QCOMPARE(csv.rows.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const auto& row = csv.rows[i];
            QVERIFY(row.wallUs >= before && row.wallUs <= after);
            QVERIFY(i == 0 || row.wallUs >= csv.rows[i - 1].wallUs);
            QCOMPARE(row.values, (std::vector<std::optional<double>>{sent[i].first, sent[i].second}));
        }
        const QImage picture(dir.filePath("v.png"));
        QCOMPARE(picture.size(), plot->View->size() * plot->View->devicePixelRatio());
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::PlotWindowTest)
#include "plot_window_test.moc"
