// The window's capture: a session through the window's own send and receive
// paths lands whole in both forms, and a capture into a full disk stops with
// one message while the port goes on receiving.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app_test.h"
#include "capture/capture_format.h"
#include "codec/fun.h"
#include "line_fixtures.h"
#include "tests/capture/capture_test_support.h"

namespace tarvik {

using capture::CaptureForm;
using capture::RecordKind;

class CaptureWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<Tfrmmain> w;
    int firstLines = 0;  // RX1's lines before the session (it starts with one empty line)

    void Open() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        firstLines = w->RX1->count();
    }

    void SendAndSeeItBack(const QString& command, int lines) {
        w->ComboBox1->setEditText(command);
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->RX1->count(), firstLines + lines, 5000);
    }

  private slots:
    void init() { recorder = std::make_unique<test::BoxRecorder>(); }
    void cleanup() {
        w.reset();
        recorder.reset();
    }

    void aSessionIsCapturedWholeInBothForms() {
        QTemporaryDir dir;
        const std::string timed = dir.filePath("session.cap").toStdString();
        const std::string raw = dir.filePath("session.raw").toStdString();
        test::SimulatorThread device(sim::Behaviour{});  // echoes
        w = std::make_unique<Tfrmmain>(nullptr, device.Path());
        w->StartCapture(timed, CaptureForm::kTimed);
        w->StartCapture(raw, CaptureForm::kRaw);
        Open();
        SendAndSeeItBack(QStringLiteral("0x41 0x00 0xFF"), 1);
        SendAndSeeItBack(QStringLiteral("\"xyz\""), 2);
        w.reset();  // closes the port, then ends the captures

        std::string sent, received;
        std::vector<cport::LineEventKind> events;
        for (const auto& record : capture::ParseCapture(capture::test::FileText(timed))) {
            QVERIFY(record.time.Valid());
            if (record.kind == RecordKind::kSent)
                sent += record.bytes;
            else if (record.kind == RecordKind::kReceived)
                received += record.bytes;
            else
                events.push_back(record.event.kind);
        }
        const std::string session("A\0\xFFxyz", 6);
        QCOMPARE(sent, session);
        QCOMPARE(received, session);
        QCOMPARE(capture::test::FileText(raw), session);
        QVERIFY(!events.empty());
        QCOMPARE(events.front(), cport::LineEventKind::kOpened);
        QCOMPARE(events.back(), cport::LineEventKind::kClosed);
        QVERIFY(recorder->boxes.empty());
    }

    void aFullDiskStopsTheCaptureWhileThePortKeepsReceiving() {
        test::SimulatorThread device(sim::Behaviour{});  // echoes
        w = std::make_unique<Tfrmmain>(nullptr, device.Path());
        w->StartCapture("/dev/full", CaptureForm::kTimed);
        Open();
        QTRY_COMPARE_WITH_TIMEOUT(recorder->boxes.size(), std::size_t(1), 5000);
        QVERIFY2(recorder->boxes[0].text.starts_with(
                     "The capture to /dev/full stopped: No space left on device."),
                 recorder->boxes[0].text.c_str());
        QCOMPARE(recorder->boxes[0].caption, std::string("Capture"));
        SendAndSeeItBack(QStringLiteral("0x41"), 1);
        SendAndSeeItBack(QStringLiteral("0x42"), 2);
        QCOMPARE(w->RX1->text(0).toStdString(), fun::BytesToDisplay("B", true) + " (1)");
        QVERIFY(w->Capture(CaptureForm::kTimed)->Stopped());
        QVERIFY(!w->CheckBox8->isChecked());
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
    }

    void aCaptureIsShownInTheReceiveLogAndADamagedOneIsRefused() {
        QTemporaryDir dir;
        const auto write = [&](const char* name, const std::string& text) {
            const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
            QFile file(QString::fromStdString(path));
            if (file.open(QIODevice::WriteOnly))
                file.write(text.data(), qint64(text.size()));
            return path;
        };
        std::string text(capture::kTimedHeader);
        text += "10 20 ev opened\n30 40 tx 3f\n50 60 rx 414200\n70 80 rx 0d\n";
        const std::string good = write("good.cap", text);
        // Where a full disk stopped the writer: shown up to its last whole line.
        const std::string torn = write("torn.cap", text.substr(0, text.size() - 1));
        const std::string bad = write("bad.cap", text + "90 100 zz 41\n");
        w = std::make_unique<Tfrmmain>(nullptr, Text());
        const int before = w->RX1->count();
        w->ShowCapture(good);
        QCOMPARE(w->RX1->count(), before + 2);
        QCOMPARE(w->RX1->text(0).toStdString(), fun::BytesToDisplay("\r", true) + " (1)");
        QCOMPARE(w->RX1->text(1).toStdString(),
                 fun::BytesToDisplay(std::string("AB\0", 3), true) + " (3)");
        w->ShowCapture(torn);
        QCOMPARE(w->RX1->count(), before + 4);
        QCOMPARE(w->RX1->text(0).toStdString(),
                 "== " + torn + ": line 5: cut short (the last line has no end); left out");
        QCOMPARE(w->RX1->text(1).toStdString(),
                 fun::BytesToDisplay(std::string("AB\0", 3), true) + " (3)");
        try {
            w->ShowCapture(bad);
            QFAIL("a damaged capture was shown");
        } catch (const std::runtime_error& error) {
            QCOMPARE(std::string(error.what()), bad + ": line 6: \"zz\" is not rx, tx or ev");
        }
        QCOMPARE(w->RX1->count(), before + 4);
    }

    // A capture longer than a log keeps shows its newest lines and says how
    // many records were left out.
    void aLongCaptureKeepsToTheLogsCap() {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("long.cap")).toStdString();
        std::string text(capture::kTimedHeader);
        const int records = Tfrmmain::kLogCap + 5;
        for (int i = 1; i <= records; ++i)
            text += std::to_string(i) + " " + std::to_string(i) + " rx 41\n";
        {
            QFile file(QString::fromStdString(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text.data(), qint64(text.size()));
        }
        w = std::make_unique<Tfrmmain>(nullptr, Text());
        const int before = w->RX1->count();
        w->ShowCapture(path);
        QCOMPARE(w->RX1->count(), before + Tfrmmain::kLogCap + 1);
        QCOMPARE(w->RX1->text(0).toStdString(),
                 "== " + path + ": the first 5 records are left out: a log shows the newest " +
                     std::to_string(Tfrmmain::kLogCap) + " lines");
    }

    // One full disk stops both captures: the user gets one box telling both.
    void twoCapturesStoppingTogetherGiveOneBox() {
        w = std::make_unique<Tfrmmain>(nullptr, Text());
        w->StartCapture("/dev/full", CaptureForm::kTimed);
        w->StartCapture("/dev/full", CaptureForm::kRaw);
        w->Capture(CaptureForm::kRaw)->Received("x", cport::LineTime{1, 1});
        QTRY_COMPARE_WITH_TIMEOUT(recorder->boxes.size(), std::size_t(1), 5000);
        const std::string& box = recorder->boxes[0].text;
        const std::string stop = "The capture to /dev/full stopped: No space left on device.";
        QVERIFY2(box.find(stop) == 0 && box.find(stop, 1) != std::string::npos, box.c_str());
        QTest::qWait(500);  // nothing more comes
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
    }

    void theLinePageStartsAndStopsACaptureAndShowsOne() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.cap"));
        int dialogs = 0;
        const FileDialogFunction previous =
            SetFileDialogFunction([&](const FileDialogRequest&) -> FileDialogAnswer {
                ++dialogs;
                return file;
            });
        test::SimulatorThread device(sim::Behaviour{});
        w = std::make_unique<Tfrmmain>(nullptr, device.Path());
        w->PageControl1->setCurrentWidget(w->TabSheet9);
        Open();
        for (QWidget* control :
             {static_cast<QWidget*>(w->CheckBox8), static_cast<QWidget*>(w->BitBtn10),
              static_cast<QWidget*>(w->Label28)})
            QVERIFY(w->TabSheet9->rect().contains(control->geometry()));
        QVERIFY(!w->CheckBox8->isChecked());
        QTest::mouseClick(w->CheckBox8, Qt::LeftButton);
        QCOMPARE(dialogs, 1);
        QVERIFY(w->CheckBox8->isChecked());
        QVERIFY(w->Label28->text().endsWith(file));
        SendAndSeeItBack(QStringLiteral("\"hi\""), 1);
        QTest::mouseClick(w->CheckBox8, Qt::LeftButton);  // the file complete
        QVERIFY(w->Capture(CaptureForm::kTimed) == nullptr);
        QVERIFY(w->Label28->text().isEmpty());
        std::string sent, received;
        for (const auto& record :
             capture::ParseCapture(capture::test::FileText(file.toStdString()))) {
            if (record.kind == RecordKind::kSent)
                sent += record.bytes;
            else if (record.kind == RecordKind::kReceived)
                received += record.bytes;
        }
        QCOMPARE(sent, std::string("hi"));
        QCOMPARE(received, std::string("hi"));

        const int before = w->RX1->count();
        QTest::mouseClick(w->BitBtn10, Qt::LeftButton);
        QCOMPARE(dialogs, 2);
        QCOMPARE(w->RX1->count(), before + 1);
        QCOMPARE(w->RX1->text(0).toStdString(), fun::BytesToDisplay("hi", true) + " (2)");
        QVERIFY(recorder->boxes.empty());
        SetFileDialogFunction(previous);
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::CaptureWindowTest)
#include "capture_window_test.moc"
