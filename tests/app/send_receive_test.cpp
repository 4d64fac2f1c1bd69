// The terminal end to end on the offscreen platform: Send writes the encoded
// command on a pty, the send history, the command source, the timer, and the
// lines that arrivals leave in the receive logs.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <cerrno>
#include <memory>
#include <string>

#include "app/frmmain.h"
#include "app/popup_menu.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "serial/error/com_error.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"
#include "serial/device/fake_com_device.h"

namespace tarvik {

using cport::device::FakeComDevice;

class SendReceiveTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<FakeComDevice> fake;  // outlives the window and its port
    std::unique_ptr<Tfrmmain> w;

    void Open(const std::string& port) {
        w = std::make_unique<Tfrmmain>(nullptr, port);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
    }

    void Send(const QString& command) {
        w->ComboBox1->setEditText(command);
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    }

    static QStringList Lines(const TLineList* list) {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) lines << list->text(i);
        return lines;
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : recorder->boxes) texts.push_back(box.text);
        return texts;
    }

    // Nothing else went out before: a marker sent now is the next byte on the line.
    void ExpectNothingMoreThan(test::PtyPair& line) {
        const bool fromHistory = w->RadioButton2->isChecked();
        w->RadioButton1->setChecked(true);
        const QStringList history = Lines(w->TX1);
        Send(QStringLiteral("0x7E"));
        QCOMPARE(line.Read(1), std::string("~"));
        while (w->TX1->count() > history.size()) w->TX1->removeRow(0);
        w->RadioButton2->setChecked(fromHistory);
    }

  private slots:
    void init() {
        recorder = std::make_unique<test::BoxRecorder>();
        fake = std::make_unique<FakeComDevice>();
    }
    void cleanup() {
        w.reset();
        fake.reset();
        recorder.reset();
    }

    // --- the send path ---

    void sendWritesTheEncodedBytes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("hex and decimal") << "0x41 0x42 13" << QByteArray("AB\r");
        QTest::newRow("quoted text") << "\"A3\" 0x1" << QByteArray("A3\x01");
        QTest::newRow("every bit") << "0x00 255 0x80" << QByteArray("\x00\xFF\x80", 3);
        QTest::newRow("Latin-1 text") << QString::fromUtf8("\"\u00E9\"") << QByteArray("\xE9");
    }
    void sendWritesTheEncodedBytes() {
        QFETCH(QString, command);
        QFETCH(QByteArray, bytes);
        test::PtyPair line;
        Open(line.Path());
        Send(command);
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
        QCOMPARE(line.Read(std::size_t(bytes.size())), bytes.toStdString());
        ExpectNothingMoreThan(line);
    }

    void historyKeepsTheNewestFirstWithoutRepeats() {
        test::PtyPair line;
        Open(line.Path());
        for (int i = 0; i < 3; ++i) Send(QStringLiteral("0x41"));
        QCOMPARE(line.Read(3), std::string("AAA"));
        QCOMPARE(Lines(w->TX1), QStringList{"0x41"});

        Send(QStringLiteral("0x42"));
        Send(QStringLiteral("0x41"));
        QCOMPARE(line.Read(2), std::string("BA"));
        QCOMPARE(Lines(w->TX1), (QStringList{"0x41", "0x42", "0x41"}));
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
    }

    void historyAsTheSource() {
        test::PtyPair line;
        Open(line.Path());
        Send(QStringLiteral("0x43"));
        Send(QStringLiteral("0x42"));
        QCOMPARE(line.Read(2), std::string("CB"));
        const QStringList history{"0x42", "0x43"};

        // A click into the history makes it the source; the clicked line is sent.
        const QRect second = w->TX1->visualRowRect(1);
        QTest::mouseClick(w->TX1->viewport(), Qt::LeftButton, {}, second.center());
        QVERIFY(w->RadioButton2->isChecked());
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QCOMPARE(line.Read(1), std::string("C"));
        QCOMPARE(Lines(w->TX1), history);

        // No line selected: zero bytes, history unchanged.
        w->TX1->clearSelection();
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QCOMPARE(Lines(w->TX1), history);
        ExpectNothingMoreThan(line);
        QCOMPARE(BoxTexts(), std::vector<std::string>{});

        // A click into the command line makes it the source again.
        QTest::mouseClick(w->ComboBox1, Qt::LeftButton);
        QVERIFY(w->RadioButton1->isChecked());
    }

    void encodingErrorSendsNothing() {
        test::PtyPair line;
        Open(line.Path());
        Send(QStringLiteral("0x41"));
        QCOMPARE(line.Read(1), std::string("A"));
        Send(QStringLiteral("0x42 12ab"));
        QCOMPARE(BoxTexts(), std::vector<std::string>{"'12ab' is not a valid integer value."});
        QCOMPARE(recorder->boxes[0].caption, std::string("Tarvik 2"));
        QCOMPARE(Lines(w->TX1), QStringList{"0x41"});
        ExpectNothingMoreThan(line);
    }

    void notConnectedSendsNothing() {
        w = std::make_unique<Tfrmmain>();
        w->ComboBox1->setEditText(QStringLiteral("0x41"));
        w->BitBtn1Click();  // as a timer tick performs it, the button being disabled
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        QCOMPARE(recorder->boxes[0].text, std::string("Not Connected"));
        QCOMPARE(recorder->boxes[0].caption, std::string("Syntax error"));
        QVERIFY(recorder->boxes[0].icon == MessageIcon::Information);
        QCOMPARE(w->TX1->count(), 0);
    }

    // The device takes fewer bytes than asked (here none: the line is full
    // and the write time-out runs out): a clear error, the history unchanged.
    void incompleteSendIsAnError() {
        test::PtyPair line;
        Open(line.Path());
        w->C1->Timeouts().SetWriteTotalMultiplier(0);
        w->C1->Timeouts().SetWriteTotalConstant(100);
        line.FillTowardsMaster();
        QStringList tokens;
        for (int i = 0; i < 256; ++i) tokens << QStringLiteral("0x41");
        Send(tokens.join(QLatin1Char(' ')));
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        const QString text = QString::fromStdString(recorder->boxes[0].text);
        const QRegularExpression expected(
            QStringLiteral("^Only (\\d+) of 256 bytes were sent; the write time-out ran out\\.$"));
        const QRegularExpressionMatch match = expected.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QVERIFY(match.captured(1).toInt() < 256);
        QCOMPARE(w->TX1->count(), 0);
    }

    // While a Send waits for a line that takes nothing, the window answers:
    // a queued call and real clicks and keys are served. A Send pressed
    // meanwhile goes after it; Esc (Stop) ends the waiting one; closing the
    // window ends it too, and the window then closes.
    void windowAnswersWhileASendWaitsForTheLine() {
        test::PtyPair line;
        Open(line.Path());
        w->C1->Timeouts().SetWriteTotalMultiplier(0);
        w->C1->Timeouts().SetWriteTotalConstant(600000);  // only Stop ends it
        line.FillTowardsMaster();
        bool sendReturned = false;
        bool servedDuringSend = false;
        QTimer::singleShot(0, w.get(), [&] {
            servedDuringSend = !sendReturned;
            QTest::mouseClick(w->BitBtn1, Qt::LeftButton);  // waits its turn
            QTest::keyClick(w.get(), Qt::Key_Escape);
        });
        Send(QStringLiteral("0x41"));
        sendReturned = true;
        QVERIFY(servedDuringSend);
        QVERIFY(!w->C1->Connected());
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(2));
        QVERIFY(recorder->boxes[0].text.starts_with(cport::ErrorMessages(cport::ecWrite)));
        QVERIFY(recorder->boxes[0].text.find(std::to_string(ECANCELED)) != std::string::npos);
        QCOMPARE(recorder->boxes[1].text, std::string("Not Connected"));

        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        line.FillTowardsMaster();
        QTimer::singleShot(0, w.get(), [&] {
            servedDuringSend = w->BitBtn1->isEnabled();  // the Send still waits
            w->close();
        });
        Send(QStringLiteral("0x42"));
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(servedDuringSend);
        QVERIFY(!w->C1->Connected());
        QCOMPARE(recorder->boxes.size(), std::size_t(2));
    }

    void writeErrorLeavesTheHistory() {
        w = std::make_unique<Tfrmmain>();
        w->C1->SetDevice(*fake);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        fake->FailCall("WriteFile", EIO, 1);
        Send(QStringLiteral("0x41"));
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY(recorder->boxes[0].text.starts_with(cport::ErrorMessages(cport::ecWrite)));
        QCOMPARE(w->TX1->count(), 0);
    }

    // --- the timer ---

    void timerSendsRepeatedlyAndStopsOnAnError() {
        test::PtyPair line;
        Open(line.Path());
        w->ComboBox1->setEditText(QStringLiteral("0x55"));
        w->Edit1->setText(QStringLiteral("10"));
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->T1->Enabled());
        // The sends run on this thread: read without blocking while it turns.
        std::string sent;
        const auto poll = [&line, &sent] {
            sent += line.ReadAll(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
            return sent.size();
        };
        QTRY_VERIFY(poll() >= 3);
        QCOMPARE(sent, std::string(sent.size(), 'U'));
        QCOMPARE(Lines(w->TX1), QStringList{"0x55"});

        w->ComboBox1->setEditText(QStringLiteral("9z"));
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QCOMPARE(recorder->boxes[0].text, std::string("'9z' is not a valid integer value."));
        QVERIFY(!w->T1->Enabled());
        QVERIFY(w->CheckBox1->isChecked());
        sent.clear();
        poll();
        QCOMPARE(sent, std::string(sent.size(), 'U'));
        ExpectNothingMoreThan(line);

        // Unticking and ticking again restarts it.
        w->ComboBox1->setEditText(QStringLiteral("0x56"));
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->T1->Enabled());
        sent.clear();
        QTRY_VERIFY(poll() >= 2);
        QCOMPARE(sent.substr(0, 2), std::string("VV"));
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(!w->T1->Enabled());
    }

    // --- the receive log ---

    void replyArrivesAsOneLine_data() {
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ASCII") << true << "A  B 0x0D 0x0A (4)";
        QTest::newRow("hex") << false << "0x41 0x42 0x0D 0x0A (4)";
    }
    void replyArrivesAsOneLine() {
        QFETCH(bool, ascii);
        QFETCH(QString, shown);
        sim::Behaviour reply;
        reply.mode = sim::Behaviour::Mode::kReply;
        reply.reply = "AB\r\n";
        test::SimulatorThread simulator(reply);
        Open(simulator.Path());
        w->CheckBox2->setChecked(ascii);
        Send(QStringLiteral("0x01"));
        QTRY_COMPARE(Lines(w->RX1), (QStringList{shown, QString()}));
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
    }

    void arrivalsWhileAboutIsShownGoToTheLastLog() {
        sim::Behaviour echo;
        test::SimulatorThread simulator(echo);
        Open(simulator.Path());
        w->PageControl1->setCurrentWidget(w->TabSheet3);
        w->PageControl1->setCurrentWidget(w->TabSheet8);
        Send(QStringLiteral("0x00 0xFF"));
        QTRY_COMPARE(Lines(w->RX3), (QStringList{"0x00 0xFF (2)", QString()}));
        QCOMPARE(Lines(w->RX1), QStringList{QString()});
    }

    // The cap: one deletion per arrival, the oldest (bottom) line first; the
    // empty line left by Clear all goes first.
    void capOfTwoThousandLines() {
        test::SimulatorThread simulator({});
        Open(simulator.Path());
        for (int i = 0; i < 1998; ++i) w->RX1->insertItem(0, QString::number(i));
        QCOMPARE(w->RX1->count(), 1999);

        Send(QStringLiteral("0x41"));
        QTRY_COMPARE(w->RX1->count(), 2000);
        QCOMPARE(w->RX1->text(0), QStringLiteral("A (1)"));
        QCOMPARE(w->RX1->text(1999), QString());

        Send(QStringLiteral("0x42"));
        QTRY_COMPARE(w->RX1->text(0), QStringLiteral("B (1)"));
        QCOMPARE(w->RX1->count(), 2000);
        QCOMPARE(w->RX1->text(1999), QStringLiteral("0"));

        // A longer log (after Load or Paste) keeps its length.
        for (int i = 0; i < 500; ++i) w->RX1->addItem(QStringLiteral("old"));
        Send(QStringLiteral("0x43"));
        QTRY_COMPARE(w->RX1->text(0), QStringLiteral("C (1)"));
        QCOMPARE(w->RX1->count(), 2500);

        // Lines held for a frame go in as they would one by one, each into
        // the log that was active when it arrived.
        w->PageControl1->setCurrentWidget(w->TabSheet2);
        for (int i = 0; i < 1997; ++i) w->RX2->insertItem(0, QString::number(i));
        for (const char* line : {"a", "b", "c", "d"}) w->AddRxLine(line);
        w->PageControl1->setCurrentWidget(w->TabSheet3);
        w->AddRxLine("e");
        QTRY_COMPARE(Lines(w->RX3), (QStringList{"e", QString()}));
        QCOMPARE(w->RX2->count(), 2000);
        QCOMPARE(Lines(w->RX2).mid(0, 5), (QStringList{"d", "c", "b", "a", "1996"}));
        QCOMPARE(w->RX2->text(1999), QStringLiteral("1"));

        // A backlog of more than the log keeps: the newest lines, in order.
        for (int i = 0; i < 2100; ++i) w->AddRxLine(std::to_string(i));
        QTRY_COMPARE(w->RX3->text(0), QStringLiteral("2099"));
        QCOMPARE(w->RX3->count(), 2000);
        QCOMPARE(w->RX3->text(1999), QStringLiteral("100"));
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
    }

    // A long line is measured from its characters' advances: the rows' size,
    // the widest line's, stays within a few pixels of what the standard
    // delegate measures by shaping, and the line reads back as it was made.
    void longLinesKeepTheirSize() {
        sim::Behaviour reply;
        reply.mode = sim::Behaviour::Mode::kReply;
        for (int i = 0; i < 200; ++i) reply.reply += char(i);
        test::SimulatorThread simulator(reply);
        Open(simulator.Path());
        Send(QStringLiteral("0x01"));
        QTRY_VERIFY(w->RX1->count() >= 2);
        const QString line = w->RX1->text(0);
        QVERIFY(line.endsWith(QStringLiteral(")")));
        QVERIFY(line.size() > 200);

        QStyleOptionViewItem option;
        option.initFrom(w->RX1);
        option.font = w->RX1->font();
        option.fontMetrics = QFontMetrics(option.font);
        option.widget = w->RX1;
        QListWidget reference;
        reference.setFont(w->RX1->font());
        reference.addItem(line);
        const QSize shaped = QStyledItemDelegate().sizeHint(option, reference.model()->index(0, 0));
        const QSize summed = w->RX1->sizeHintForIndex(w->RX1->model()->index(1, 0));
        QCOMPARE(summed.height(), shaped.height());
        QVERIFY2(std::abs(summed.width() - shaped.width()) <= 3,
                 qPrintable(QStringLiteral("%1 vs %2").arg(summed.width()).arg(shaped.width())));
        // The scroll range reaches the widest line, and shrinks when it goes.
        QTRY_VERIFY(w->RX1->horizontalScrollBar()->maximum() > 0);
        QTest::mouseClick(w->BitBtn8, Qt::LeftButton);
        QTRY_COMPARE(w->RX1->horizontalScrollBar()->maximum(), 0);
    }

    // A button or menu item acts on release. A line held for the display
    // frame between the press and the release is in its log before the
    // command runs: Clear all clears it, Copy all copies it.
    void commandsSeeEveryLineThatArrived_data() {
        QTest::addColumn<bool>("menu");
        QTest::newRow("Clear all") << false;
        QTest::newRow("Copy all") << true;
    }
    void commandsSeeEveryLineThatArrived() {
        QFETCH(bool, menu);
        test::PtyPair line;
        Open(line.Path());
        // The first line of a frame is shown at once; one arriving within the
        // frame is held. Sent from the first one's handler, the second
        // arrives within the frame unless the machine is very busy: then try
        // again.
        int arrivals = 0;
        w->C1->SetOnRxChar([&](QObject* sender, std::int32_t count) {
            w->C1RxChar(sender, count);
            if (++arrivals % 2 == 1)
                line.Write("B");
        });
        QWindow* window = nullptr;
        QPoint at;
        bool held = false;
        for (int attempt = 0; attempt < 20 && !held; ++attempt) {
            if (menu) {
                const QPoint over = w->RX1->viewport()->mapToGlobal(QPoint(5, 5));
                QTest::mouseClick(w->windowHandle(), Qt::RightButton, {},
                                  w->windowHandle()->mapFromGlobal(over));
                QVERIFY(QTest::qWaitFor([&] { return w->PopupMenu1->isVisible(); }));
                window = w->PopupMenu1->windowHandle();
                at = w->PopupMenu1->actionGeometry(w->CopyALL).center();
            } else {
                window = w->windowHandle();
                at = w->BitBtn8->mapTo(w.get(), w->BitBtn8->rect().center());
            }
            QTest::mousePress(window, Qt::LeftButton, {}, at);
            const int before = arrivals;
            line.Write("A");
            QVERIFY(QTest::qWaitFor([&] { return arrivals == before + 2; }));
            held = w->RX1->text(0) != QStringLiteral("B (1)");
            QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        }
        QVERIFY(held);
        w->C1->SetOnRxChar(
            [this](QObject* sender, std::int32_t count) { w->C1RxChar(sender, count); });
        if (menu) {
            QCOMPARE(w->tempList->text(w->tempList->count() - 1), QStringLiteral("B (1)"));
        } else {
            // Once a later line is shown, nothing held from before is left.
            line.Write("C");
            QTRY_COMPARE(Lines(w->RX1), (QStringList{"C (1)", QString()}));
        }
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
    }

    // A read that fails is shown by the default error handler; the next
    // arrival is handled as usual.
    void failingReadIsShownAndReceptionGoesOn() {
        w = std::make_unique<Tfrmmain>();
        w->C1->SetDevice(*fake);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        fake->FailCall("ReadFile", EIO, 1);
        fake->PushInput("\x01\x02");
        fake->RaiseEvents(cport::device::EV_RXCHAR);
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY(recorder->boxes[0].text.starts_with(cport::ErrorMessages(cport::ecRead)));
        QCOMPARE(Lines(w->RX1), QStringList{QString()});

        fake->PushInput("\x03");
        fake->RaiseEvents(cport::device::EV_RXCHAR);
        QTRY_COMPARE(Lines(w->RX1), (QStringList{"0x01 0x02 0x03 (3)", QString()}));
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::SendReceiveTest)
#include "send_receive_test.moc"
