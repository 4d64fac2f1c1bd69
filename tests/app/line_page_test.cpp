// The line page and the log options on the real window, driven by keys and
// clicks over a pty: each option off and on, one line per message by gap and
// by end byte over several reads, sent blocks and line events as marked
// lines, the state in sight at the top row, and the command-line switches.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "app/command_line.h"
#include "app/frmmain.h"
#include "codec/received_check.h"
#include "app_test.h"
#include "codec/check_value.h"
#include "codec/fun.h"
#include "line_fixtures.h"
#include "serial/error/com_error.h"
#include "serial/port/com_port.h"
#include "serial/device/fake_com_device.h"
#include "serial/device/time_line.h"
#include "serial/ports/port_watcher.h"
#include "serial_controls/com_combo_box.h"
#include "tests/serial_device/rfc2217_server.h"

Q_DECLARE_METATYPE(tarvik::TLineOptions)

namespace tarvik {

class LinePageTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<cport::device::FakeComDevice> fake;  // outlives the window
    std::unique_ptr<Tfrmmain> w;

    void Build(const std::string& port, const TLineOptions& options = {}) {
        w = std::make_unique<Tfrmmain>(nullptr, port, options);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }

    // A key where the window system sends it: to the control with the focus.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : w.get(), key, modifiers);
    }

    // Alt+L shows the line page, as the user reaches it.
    void ShowLinePage() {
        Press(Qt::Key_L, Qt::AltModifier);
        QCOMPARE(w->PageControl1->currentWidget(), w->TabSheet9);
    }

    // A user's choice in a list: the focus on it and a key that moves the selection.
    static void Choose(QComboBox* box, int index) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->currentIndex(), index);
    }

    void Send(const char* command) {
        w->ComboBox1->setEditText(QString::fromLatin1(command));
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
    }

    QString Line(int row) const { return w->RX1->text(row); }
    QStringList Lines() const {
        QStringList lines;
        for (int row = 0; row < w->RX1->count(); ++row) lines << Line(row);
        return lines;
    }

    // The state at the top row shows this many bytes received.
    bool Received(int bytes) const {
        return QTest::qWaitFor(
            [&] { return w->Label21->text().contains(QStringLiteral("Rx %1 ").arg(bytes)); });
    }

    static QString Shown(const std::string& bytes, std::size_t count) {
        return QString::fromLatin1(fun::BytesToDisplay(bytes, true) + " (" + std::to_string(count) +
                                   ")");
    }

  private slots:
    void init() {
        recorder = std::make_unique<test::BoxRecorder>();
        fake = std::make_unique<cport::device::FakeComDevice>();
    }
    void cleanup() {
        w.reset();
        fake.reset();
        QVERIFY(recorder->boxes.empty());
        recorder.reset();
    }

    // The ninth page follows "About"; everything on it starts off, and the
    // port's state is in sight at the top row while "Rx 1" is shown.
    void linePageAndStateInSight() {
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        QCOMPARE(w->PageControl1->count(), 10);
        QCOMPARE(w->PageControl1->tabText(8), QStringLiteral("&Line"));
        QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("Off"));
        QCOMPARE(w->ComboBox3->currentText(), QStringLiteral("Per arrival"));
        QVERIFY(!w->CheckBox3->isChecked() && !w->CheckBox4->isChecked());
        QCOMPARE(w->ComComboBox4->currentText(), QStringLiteral("8"));
        QCOMPARE(w->ComComboBox5->currentText(), QStringLiteral("1"));
        QVERIFY(w->Label21->isVisible());
        QVERIFY(w->Label21->geometry().left() > w->CheckBox2->geometry().right());
        QCOMPARE(w->Label21->text(), QStringLiteral("closed  Rx 0  Tx 0"));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        Send("0x41 0x42");
        QTRY_COMPARE(w->Label21->text(), QStringLiteral("open  Rx 2  Tx 2"));
        QCOMPARE(w->PageControl1->currentWidget(), w->TabSheet1);
        QCOMPARE(Line(0), QStringLiteral("A  B (2)"));  // options off: as always
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QTRY_VERIFY(w->Label21->text().startsWith(QStringLiteral("closed")));
        ShowLinePage();
        QVERIFY(w->Label22->text().contains(QStringLiteral("received 2 bytes")));
    }

    // Each timestamp mode, chosen on the page, in front of an echoed line.
    void timestamps_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("off") << 0 << R"(^A \(1\)$)";
        QTest::newRow("time of day") << 1 << R"(^\d\d:\d\d:\d\d\.\d\d\d A \(1\)$)";
        QTest::newRow("since previous") << 2 << R"(^\+\d+\.\d{6} A \(1\)$)";
        QTest::newRow("since Start") << 3 << R"(^\d+\.\d{6} A \(1\)$)";
    }
    void timestamps() {
        QFETCH(int, mode);
        QFETCH(QString, pattern);
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        ShowLinePage();
        Choose(w->ComboBox2, mode);
        Press(Qt::Key_1, Qt::AltModifier);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        Send("0x41");
        QTRY_COMPARE(w->RX1->count(), 2);
        QVERIFY2(QRegularExpression(pattern).match(Line(0)).hasMatch(), qPrintable(Line(0)));
    }

    // Sent blocks and line events: marked lines beside the received ones, in order.
    void sentBlocksAndLineEventsAreMarked() {
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        ShowLinePage();
        QTest::mouseClick(w->CheckBox3, Qt::LeftButton);
        QTest::mouseClick(w->CheckBox4, Qt::LeftButton);
        Press(Qt::Key_1, Qt::AltModifier);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QTRY_COMPARE(w->RX1->count(), 3);  // a pty says once that it has no modem lines
        Send("0x41");
        QTRY_COMPARE(w->RX1->count(), 5);
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QTRY_COMPARE(w->RX1->count(), 6);
        const QString port = QString::fromStdString(simulator.Path());
        QCOMPARE(Line(5), QString());
        QCOMPARE(Line(4), QStringLiteral("== port opened: ") + port);
        QCOMPARE(Line(3),
                 QStringLiteral("== this device reports no modem lines, breaks or line errors"));
        QCOMPARE(Line(2), QStringLiteral(">> A (1)"));
        QCOMPARE(Line(1), QStringLiteral("A (1)"));
        QCOMPARE(Line(0), QStringLiteral("== port closed"));
    }

    // One line per message over several driver reads: the state's byte count
    // says each part was read before the next is written.
    void messagesOverSeveralReads_data() {
        QTest::addColumn<TLineOptions>("options");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QStringList>("lines");  // newest first
        TLineOptions end;
        end.messages = TMessageRule::EndByte;
        QTest::newRow("end byte CR") << end << QStringList{"0x", "41", "\r12"}
                                     << QStringList{Shown("0x41\r", 5)};  // "12" waits for its CR
        TLineOptions gap;
        gap.messages = TMessageRule::GapMs;
        gap.gapMs = 1500;
        QTest::newRow("quiet gap")
            << gap << QStringList{"AB", "C", "D"} << QStringList{Shown("ABCD", 4)};
    }
    void messagesOverSeveralReads() {
        QFETCH(TLineOptions, options);
        QFETCH(QStringList, parts);
        QFETCH(QStringList, lines);
        test::PtyPair line;
        Build(line.Path(), options);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        int total = 0;
        for (const QString& part : parts) {
            line.Write(part.toStdString());
            total += int(part.size());
            QVERIFY(Received(total));
        }
        lines << QString();
        QTRY_COMPARE_WITH_TIMEOUT(w->RX1->count(), int(lines.size()), 5000);
        for (int row = 0; row < lines.size(); ++row) QCOMPARE(Line(row), lines[row]);
    }

    // The page's rule, chosen with keys, and an end byte typed in the notation.
    void endByteTypedOnThePage() {
        test::PtyPair line;
        Build(line.Path());
        ShowLinePage();
        Choose(w->ComboBox3, 3);
        w->ComboBox4->setFocus();
        w->ComboBox4->lineEdit()->selectAll();
        QTest::keyClicks(w->ComboBox4, QStringLiteral("0x03"));
        QTest::keyClick(w->ComboBox4, Qt::Key_Return);
        QCOMPARE(int(w->LineOptions().endByte), 0x03);
        QCOMPARE(w->LineOptions().messages, TMessageRule::EndByte);
        Press(Qt::Key_1, Qt::AltModifier);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        line.Write(std::string("ab\x03") + "cd\x03");
        QTRY_COMPARE(w->RX1->count(), 3);
        QCOMPARE(Line(0), Shown("cd\x03", 3));
        QCOMPARE(Line(1), Shown("ab\x03", 3));

        // A custom baud rate typed on the page, taken with Enter.
        ShowLinePage();
        w->Edit2->setFocus();
        QTest::keyClicks(w->Edit2, QStringLiteral("123457"));
        QTest::keyClick(w->Edit2, Qt::Key_Return);
        QCOMPARE(w->C1->BaudRate(), cport::brCustom);
        QCOMPARE(w->C1->CustomBaudRate(), 123457);
        QCOMPARE(w->ComComboBox2->currentText(), QStringLiteral("Custom"));
    }

    // Modem lines and line errors (the fake device, since a pty has neither)
    // come in the port's time line: the port asks for arrivals and line
    // events only. The lamps follow the lines with the log option off too,
    // and nothing new is logged then; with it on, changes and errors are
    // marked lines with the device's own times, and the page counts errors:
    // the kernel's counts where the driver keeps them.
    void lineEventsLampsAndErrors() {
        using namespace cport::device;
        using cport::LineEventKind;
        const auto push = [this](LineEventKind kind, bool state, std::uint32_t count = 0,
                                 std::int64_t laterUs = 0) {
            cport::LineTime time = cport::LineClock::Raw();
            time.monoUs += laterUs;
            fake->PushLineEvent({kind, time, state, count, {}});
        };
        TLineOptions options;
        options.timestamps = timeline::TimestampMode::SincePrevious;
        Build("ttyFAKE0", options);
        w->C1->SetDevice(*fake);
        fake->SetModemStatus(MS_CTS_ON);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QCOMPARE(fake->Mask(), EV_RXCHAR | EV_LINEEVENT);
        ShowLinePage();
        QVERIFY(w->Label22->text().contains(QStringLiteral("Line errors: not available")));
        QCOMPARE(w->Label23->property("state").toInt(), 1);  // CTS on at opening
        push(LineEventKind::kDsr, true);
        QTRY_COMPARE(w->Label24->property("state").toInt(), 1);
        QCOMPARE(w->RX1->count(), 1);  // the log option off: no line
        Press(Qt::Key_Escape);         // Stop
        QCOMPARE(w->Label24->property("state").toInt(), -1);
        QTest::mouseClick(w->CheckBox4, Qt::LeftButton);
        Press(Qt::Key_S, Qt::AltModifier);  // Start, as an animated click
        QTRY_VERIFY(w->C1->Connected());
        QCOMPARE(fake->Mask(), EV_RXCHAR | EV_LINEEVENT);
        // The device took this change 5 s after now: the line says so.
        push(LineEventKind::kCts, false, 0, 5'000'000);
        QTRY_COMPARE(w->Label23->property("state").toInt(), 0);
        push(LineEventKind::kDsr, true);
        QTRY_COMPARE(w->Label24->property("state").toInt(), 1);
        push(LineEventKind::kFrame, false, 1);
        push(LineEventKind::kOverrun, false, 2);
        QTRY_VERIFY(w->Label22->text().contains(QStringLiteral("frame 1, parity 0, overrun 2")));
        fake->SetKernelCounters(cport::LineCounters::Kernel{7, 1, 2, 3, 1});
        push(LineEventKind::kParity, false, 1);
        QTRY_VERIFY(
            w->Label22->text().contains(QStringLiteral("frame 7, parity 1, overrun 3, break 3")));
        Press(Qt::Key_Escape);
        QCOMPARE(w->Label23->property("state").toInt(), -1);
        QTRY_COMPARE(w->RX1->count(), 8);
        QVERIFY2(QRegularExpression(R"(^\+5\.\d{6} == CTS off$)").match(Line(5)).hasMatch(),
                 qPrintable(Line(5)));
        QStringList lines;
        for (int row = 6; row >= 0; --row)
            lines << Line(row).remove(QRegularExpression(R"(^[-+]\d+\.\d{6} )"));
        QCOMPARE(lines, (QStringList{"== port opened: ttyFAKE0", "== CTS off", "== DSR on",
                                     "== line error: frame", "== line error: overrun, 2 times",
                                     "== line error: parity", "== port closed"}));
    }

    // A port on the network, given as the window's port: the page says what
    // it is and, once Start has connected, who serves it; DTR goes to the
    // server as its request.
    void networkPortOnTheLinePage() {
        cport::device::testing::Rfc2217Server server({});
        Build(server.Url());
        ShowLinePage();
        QVERIFY2(w->Label27->text().contains(QStringLiteral("RFC 2217 server at 127.0.0.1:")),
                 qPrintable(w->Label27->text()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QVERIFY2(w->Label27->text().endsWith(QStringLiteral(", server: test server 1.0")),
                 qPrintable(w->Label27->text()));
        QVERIFY(w->CheckBox5->isEnabled());
        const std::vector<std::uint8_t> dtr{5, std::uint8_t(w->CheckBox5->isChecked() ? 9 : 8)};
        QTest::mouseClick(w->CheckBox5, Qt::LeftButton);
        const auto asked = [&server, &dtr] {
            const auto requests = server.Requests();
            return std::find(requests.begin(), requests.end(), dtr) != requests.end();
        };
        QTRY_VERIFY(asked());
        Press(Qt::Key_Escape);
        QVERIFY(!w->C1->Connected());
    }

    // The port box stays a list for its own keys; a URL typed or pasted into
    // it is the port Start opens, and a server that breaks the protocol is
    // named in the log's "line lost".
    void typingANetworkPortIntoThePortBox() {
        cport::device::testing::Rfc2217Server server({});
        test::PtyPair line;
        TLineOptions options;
        options.logEvents = true;
        Build(line.Path(), options);
        cport::TComComboBox* box = w->ComComboBox1;
        const auto typing = [box] {
            auto* field = box->findChild<QLineEdit*>(QStringLiteral("TypedPortName"));
            return field != nullptr && field->isVisible() ? field->text() : QString();
        };
        const int items = box->count();
        box->setFocus();
        Press(Qt::Key_Home);
        Press(Qt::Key_Down);
        QCOMPARE(box->currentIndex(), std::min(1, items - 1));
        QCOMPARE(w->C1->Port(), box->Text());  // a pick from the list, as before
        const QString url = QString::fromStdString(server.Url());
        // Esc gives the list back unchanged; Down after typing moves in the list.
        for (const Qt::Key leave : {Qt::Key_Escape, Qt::Key_Up}) {
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("rfc22"));
            QCOMPARE(typing(), QStringLiteral("rfc22"));
            Press(leave);
            QCOMPARE(typing(), QString());
            QCOMPARE(box->count(), items);
        }
        QCOMPARE(box->currentIndex(), 0);
        QVERIFY(recorder->boxes.empty());
        // A malformed URL is refused with a box and stays to be mended.
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("socket://nowhere"));
        Press(Qt::Key_Return);
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY2(recorder->boxes[0].text.find("is no network port name") != std::string::npos,
                 recorder->boxes[0].text.c_str());
        recorder->boxes.clear();
        QCOMPARE(typing(), QStringLiteral("socket://nowhere"));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        recorder->boxes.clear();
        QVERIFY(!w->C1->Connected());
        // Pasted, and Start takes it.
        box->setFocus();
        for (int i = 0; i < 16; ++i) Press(Qt::Key_Backspace);
        QCOMPARE(typing(), QString());
        QApplication::clipboard()->setText(url);
        Press(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(typing(), url);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QCOMPARE(QString::fromStdString(w->C1->Port()), url);
        QCOMPARE(box->currentText(), url);
        QCOMPARE(box->count(), items + 1);
        Send("\"hello\"");
        QVERIFY(Received(5));
        server.SendRaw("\xFF\xFA\x2C\x01\xFF\x07");
        QTRY_VERIFY(Lines().filter(QStringLiteral("line lost: the server at ")).size() == 1);
        QVERIFY2(Lines().join('\n').contains(QStringLiteral(
                     "broke the Telnet protocol: it sent an unescaped IAC inside a Telnet "
                     "subnegotiation")),
                 qPrintable(Lines().join('\n')));
        QVERIFY2(w->Label21->toolTip().contains(QStringLiteral("Port lost (the server at")),
                 qPrintable(w->Label21->toolTip()));
        Send("\"x\"");  // a send on the lost line says why it was lost
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY2(recorder->boxes[0].text.find("went away (the server at 127.0.0.1:") !=
                     std::string::npos,
                 recorder->boxes[0].text.c_str());
        recorder->boxes.clear();
        Press(Qt::Key_Escape);
        QVERIFY(!w->C1->Connected());
        // Typed and taken with Enter: a user's pick, kept in the list.
        const QString raw = QStringLiteral("socket://localhost:%1").arg(server.Port());
        box->setFocus();
        QTest::keyClicks(box, raw);
        Press(Qt::Key_Return);
        QCOMPARE(typing(), QString());
        QCOMPARE(QString::fromStdString(w->C1->Port()), raw);
        QCOMPARE(box->count(), items + 2);
        QVERIFY(recorder->boxes.empty());
    }

    // DTR, RTS and a break pulse on a device with modem lines (the fake);
    // on a pty the switches stay off, and the page says who the port is.
    void lineControlAndWhoThePortIs() {
        using namespace cport::device;
        Build("ttyFAKE0");
        w->C1->SetDevice(*fake);
        ShowLinePage();
        QVERIFY(!w->CheckBox5->isEnabled() && !w->BitBtn9->isEnabled());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->CheckBox5->isEnabled() && !w->CheckBox5->isChecked());
        QTest::mouseClick(w->CheckBox5, Qt::LeftButton);
        QCOMPARE(fake->OutputLines() & SERIAL_DTR_STATE, SERIAL_DTR_STATE);
        QVERIFY(w->CheckBox5->isChecked());
        QTest::mouseClick(w->CheckBox6, Qt::LeftButton);
        QCOMPARE(fake->OutputLines(), SERIAL_DTR_STATE | SERIAL_RTS_STATE);
        QTest::mouseClick(w->CheckBox5, Qt::LeftButton);
        QCOMPARE(fake->OutputLines(), SERIAL_RTS_STATE);
        w->Edit4->setText(QStringLiteral("30"));
        QTest::mouseClick(w->BitBtn9, Qt::LeftButton);
        QVERIFY(fake->BreakOn());
        QVERIFY(!w->BitBtn9->isEnabled());
        QTRY_VERIFY(!fake->BreakOn());
        QVERIFY(w->BitBtn9->isEnabled());
        Press(Qt::Key_Escape);
        QVERIFY(!w->CheckBox5->isEnabled());

        test::PtyPair line;
        Build(line.Path());
        QVERIFY(w->Label27->text().startsWith(QStringLiteral("Port ") +
                                              QString::fromStdString(line.Path())));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(!w->CheckBox5->isEnabled() && !w->BitBtn9->isEnabled());
    }

    // The port list follows plug and unplug while the window is open and
    // keeps the choice. The kernel's news is real (a uevent on tty9, which
    // only root can ask for); the list it leads to is the test's own.
    void portListFollowsPlugAndUnplug() {
        QTemporaryDir ttys;
        QDir(ttys.path()).mkpath(QStringLiteral("ttyUSB0/device"));
        qputenv("TARVIK_TTY_CLASS_DIR", QFile::encodeName(ttys.path()));
        Build("ttyUSB0");
        qunsetenv("TARVIK_TTY_CLASS_DIR");
        const auto* watcher = w->findChild<cport::TPortWatcher*>(QStringLiteral("PortWatcher1"));
        QVERIFY(watcher != nullptr);
        const auto kernelNews = [](const char* action) {
            QFile uevent(QStringLiteral("/sys/class/tty/tty9/uevent"));
            return uevent.open(QIODevice::WriteOnly) && uevent.write(action) > 0;
        };
        qputenv("TARVIK_TTY_CLASS_DIR", QFile::encodeName(ttys.path()));
        QDir(ttys.path()).mkpath(QStringLiteral("ttyACM3/device"));
        if (watcher->Mode() == cport::TPortWatchMode::pwOnDemand || !kernelNews("add")) {
            qunsetenv("TARVIK_TTY_CLASS_DIR");
            QSKIP("no kernel news of ttys here (needs netlink and root)");
        }
        QTRY_COMPARE(w->ComComboBox1->count(), 2);
        QCOMPARE(w->ComComboBox1->itemText(0), QStringLiteral("ttyACM3"));
        QCOMPARE(w->ComComboBox1->currentText(), QStringLiteral("ttyUSB0"));
        QDir(ttys.filePath(QStringLiteral("ttyACM3"))).removeRecursively();
        QVERIFY(kernelNews("remove"));
        QTRY_COMPARE(w->ComComboBox1->count(), 1);
        QCOMPARE(w->ComComboBox1->currentText(), QStringLiteral("ttyUSB0"));
        qunsetenv("TARVIK_TTY_CLASS_DIR");
    }

    // Where no news of ports can be had, the list is read again each time it
    // drops down (a click, or Alt+Down), and keeps the choice.
    void portListReadWhenShownWithoutNews() {
        QTemporaryDir ttys;
        QDir(ttys.path()).mkpath(QStringLiteral("ttyUSB0/device"));
        qputenv("TARVIK_TTY_CLASS_DIR", QFile::encodeName(ttys.path()));
        Build("ttyUSB0");
        w->WatchPorts(cport::TPortWatchSource::None);
        const auto* watcher = w->findChild<cport::TPortWatcher*>(QStringLiteral("PortWatcher1"));
        QCOMPARE(watcher->Mode(), cport::TPortWatchMode::pwOnDemand);
        QDir(ttys.path()).mkpath(QStringLiteral("ttyACM3/device"));
        QCOMPARE(w->ComComboBox1->count(), 1);  // nothing polls
        QTest::mouseClick(w->ComComboBox1, Qt::LeftButton);
        QTRY_VERIFY(w->ComComboBox1->view()->isVisible());
        QCOMPARE(w->ComComboBox1->count(), 2);
        QCOMPARE(w->ComComboBox1->itemText(0), QStringLiteral("ttyACM3"));
        QCOMPARE(w->ComComboBox1->currentText(), QStringLiteral("ttyUSB0"));
        Press(Qt::Key_Escape);
        QTRY_VERIFY(!w->ComComboBox1->view()->isVisible());
        QDir(ttys.filePath(QStringLiteral("ttyACM3"))).removeRecursively();
        w->ComComboBox1->setFocus();
        Press(Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(w->ComComboBox1->view()->isVisible());
        QCOMPARE(w->ComComboBox1->count(), 1);
        QCOMPARE(w->ComComboBox1->currentText(), QStringLiteral("ttyUSB0"));
        Press(Qt::Key_Escape);
        qunsetenv("TARVIK_TTY_CLASS_DIR");
    }

    // A pulled adapter: the state says so at once and the timer stops; Stop
    // closes the lost port. With reconnect on the window waits, the port is
    // opened again when the device returns, and the timer goes on sending.
    void pulledAdapterAndReconnect_data() {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("reconnect off") << false;
        QTest::newRow("reconnect on") << true;
    }
    void pulledAdapterAndReconnect() {
        QFETCH(bool, reconnect);
        QTemporaryDir dir;
        const std::string link = dir.filePath(QStringLiteral("ttySIM")).toStdString();
        sim::Plugging plugging;
        plugging.linkPath = link;
        test::SimulatorThread simulator({}, plugging);
        TLineOptions options;
        options.logEvents = true;
        options.reconnect = reconnect;
        Build(link, options);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        w->ComboBox1->setEditText(QStringLiteral("0x41"));
        w->Edit1->setText(QStringLiteral("150"));
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QTRY_VERIFY(w->RX1->count() > 3);  // the echoes of the timer's sends
        simulator.Unplug();
        const QString state = reconnect ? QStringLiteral("waiting") : QStringLiteral("lost");
        QTRY_VERIFY2(w->Label21->text().startsWith(state), qPrintable(w->Label21->text()));
        QVERIFY(!w->T1->Enabled());
        QVERIFY(w->BitBtn3->isEnabled());
        // A tick that wrote while the device went may report that once, before
        // the loss is known; never more.
        QVERIFY(recorder->boxes.size() <= 1);
        recorder->boxes.clear();
        // The box says whether the timer will send: never again without
        // reconnect, once the device is back with it.
        QCOMPARE(w->CheckBox1->isChecked(), reconnect);
        // A Send meanwhile fails with the port's text and code, and why.
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        const std::string failed = recorder->boxes[0].text;
        QVERIFY2(failed.starts_with(cport::ErrorMessages(cport::ecWrite) + " (win error code: ") &&
                     failed.find("\nThe device went away") != std::string::npos,
                 failed.c_str());
        recorder->boxes.clear();
        if (reconnect) {
            // The log says what the window waits for.
            const QString awaited =
                QString::fromStdString("== waiting for the link " + link + " to be made again");
            QTRY_VERIFY(Lines().contains(awaited));
            simulator.Replug();
            QTRY_VERIFY(w->Label21->text().startsWith(QStringLiteral("open")));
            QVERIFY(w->T1->Enabled());
            const int lines = w->RX1->count();
            QTRY_VERIFY(w->RX1->count() > lines + 2);  // sending goes on
        }
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(!w->C1->Connected());
        QVERIFY(w->BitBtn2->isEnabled());
        QTRY_VERIFY(w->Label21->text().startsWith(QStringLiteral("closed")));
        QStringList events;
        for (int row = w->RX1->count() - 1; row >= 0; --row) {
            if (Line(row).startsWith(QStringLiteral("== line ")))
                events << Line(row);
        }
        const QStringList expected =
            reconnect ? QStringList{"== line lost", "== line back"} : QStringList{"== line lost"};
        QCOMPARE(events, expected);
    }

    // An open that fails says why beside the port's own text.
    // The race a pulled adapter can make (forced with the fake device, since
    // the simulator's unplug cannot time it): a tick's write fails before
    // the loss is known. One message; with reconnect on the timer goes on
    // once the device is back.
    void tickThatFailsAsTheDeviceGoes() {
        TLineOptions options;
        options.reconnect = true;
        Build("ttyFAKE0", options);
        w->C1->SetDevice(*fake);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        w->ComboBox1->setEditText(QStringLiteral("0x41"));
        w->Edit1->setText(QStringLiteral("20"));
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QTRY_VERIFY(fake->Written().size() >= 2);
        fake->FailCall("WriteFile", EIO, 1);
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY(!w->T1->Enabled());
        recorder->boxes.clear();
        fake->PushLineEvent({cport::LineEventKind::kLost, cport::LineClock::Raw(), false, 0, {}});
        QTRY_VERIFY(w->Label21->text().startsWith(QStringLiteral("open")) && w->T1->Enabled());
        const std::size_t written = fake->Written().size();
        QTRY_VERIFY(fake->Written().size() > written + 2);  // sending goes on
        QVERIFY(w->CheckBox1->isChecked());
    }

    // The far end writes each frame a byte at a time while the port's event
    // thread is held up: only the first byte is announced, the others wait
    // in the device with their arrival times. Before its timer closes a
    // message the window takes what is already there, so each frame comes
    // out whole; the late announcement then finds nothing left.
    void framesWholeWhileTheEventThreadIsLate() {
        TLineOptions options;
        options.messages = TMessageRule::GapMs;
        options.gapMs = 500;  // beyond what a loaded machine takes to read the first byte
        Build("ttyFAKE0", options);
        w->C1->SetDevice(*fake);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        const std::string frames[] = {std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8),
                                      std::string("\x01\x03\x04\x00\x2A\x00\x07\x1B\xF6", 9)};
        for (const std::string& frame : frames) {
            const int reads = fake->CallCount("ReadFile");
            const cport::LineTime start = cport::LineClock::Raw();
            fake->PushInputAt(frame.substr(0, 1), start);
            fake->RaiseEvents(cport::device::EV_RXCHAR);
            QTRY_VERIFY(fake->CallCount("ReadFile") > reads);
            for (std::size_t i = 1; i < frame.size(); ++i) {
                const std::int64_t at = std::int64_t(i) * 520;  // 19200 baud's pace
                fake->PushInputAt(frame.substr(i, 1), {start.monoUs + at, start.wallUs + at});
            }
            const int lines = w->RX1->count();
            QTRY_VERIFY(w->RX1->count() > lines);
        }
        fake->RaiseEvents(cport::device::EV_RXCHAR);
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QStringList got;
        for (int row = w->RX1->count() - 1; row >= 0; --row) {
            if (Line(row).endsWith(QStringLiteral(")")))
                got << Line(row);
        }
        QStringList want;
        for (const std::string& frame : frames)
            want << QString::fromStdString(fun::BytesToDisplay(frame, true) + " (" +
                                           std::to_string(frame.size()) + ")");
        QCOMPARE(got, want);
    }

    // On a real line: the window is busy (here, writing the frames itself, a
    // byte at a time at 19200 baud's pace), so the port's event thread waits
    // in its hand-over and the bytes wait in the driver, read long after they
    // came. A message is cut only where a gap is proven, so only where the
    // writer's own times allow one: each frame comes out whole.
    void framesCutOnlyAtProvenGapsWhileTheWindowIsBusy() {
        using Clock = std::chrono::steady_clock;
        test::PtyPair line;
        TLineOptions options;
        options.messages = TMessageRule::GapMs;
        options.gapMs = 20;
        Build(line.Path(), options);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        const std::size_t frameBytes = 60;  // 31 ms on the line: longer than the gap
        std::vector<std::pair<Clock::time_point, Clock::time_point>> writes;
        for (const char c : {'a', 'b', 'c'}) {
            const int lines = w->RX1->count();
            for (std::size_t i = 0; i < frameBytes; ++i) {
                const Clock::time_point before = Clock::now();
                line.Write(std::string(1, c));
                writes.emplace_back(before, Clock::now());
                while (Clock::now() < writes.back().second + std::chrono::microseconds(520)) {
                }
            }
            QTRY_VERIFY(w->RX1->count() > lines);
        }
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        std::set<std::size_t> cuts;  // after byte i: i + 1
        std::size_t at = 0;
        for (int row = w->RX1->count() - 1; row >= 0; --row) {
            const QString text = Line(row);
            if (text.endsWith(QLatin1Char(')')))
                cuts.insert(at += text.mid(text.lastIndexOf(QLatin1Char('(')) + 1).chopped(1).toUInt());
        }
        QCOMPARE(at, 3 * frameBytes);
        for (const std::size_t cut : cuts) {
            const bool frameEnd = cut % frameBytes == 0;
            const bool writerStalled =
                cut < writes.size() && writes[cut].second - writes[cut - 1].first >=
                                           std::chrono::milliseconds(options.gapMs);
            QVERIFY2(frameEnd || writerStalled, qPrintable(QString::number(cut)));
        }
        for (std::size_t end = frameBytes; end <= 3 * frameBytes; end += frameBytes)
            QVERIFY(cuts.count(end) == 1);
    }

    void openFailureSaysWhy() {
        Build("/nonexistent/tty-of-nobody");
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        const std::string text = recorder->boxes[0].text;
        recorder->boxes.clear();
        QVERIFY(text.starts_with(cport::ErrorMessages(cport::ecOpen)));
        QVERIFY2(
            text.find("\nThe port /nonexistent/tty-of-nobody is not there") != std::string::npos,
            text.c_str());
    }

    // Received messages checked against CRC-16/MODBUS, chosen on the page
    // with keys: a Modbus request echoed whole, with a wrong CRC, and too short.
    void receivedMessagesChecked() {
        test::SimulatorThread simulator({});
        TLineOptions options;
        options.messages = TMessageRule::GapMs;
        options.gapMs = 50;
        Build(simulator.Path(), options);
        ShowLinePage();
        const fun::TCheckValue* modbus = fun::FindCheckValue("CRC-16/MODBUS");
        Choose(w->ComboBox5, int(modbus - fun::CheckValues().data()) + 1);
        QCOMPARE(w->LineOptions().check, modbus);
        Press(Qt::Key_1, Qt::AltModifier);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        const std::string request("\x01\x03\x00\x00\x00\x0A", 6);
        const struct {
            const char* command;
            std::string bytes;
            QString mark;
        } rows[] = {
            {"0x01 0x03 0x00 0x00 0x00 0x0A 0xC5 0xCD", request + "\xC5\xCD", " ok"},
            {"0x01 0x03 0x00 0x00 0x00 0x0A 0xC5 0xCC", request + "\xC5\xCC",
             " bad, expected 0xC5 0xCD"},
            {"0x01", "\x01", " too short"},
        };
        int lines = 1;
        for (const auto& row : rows) {
            Send(row.command);
            ++lines;
            QTRY_COMPARE_WITH_TIMEOUT(w->RX1->count(), lines, 5000);
            QCOMPARE(Line(0), Shown(row.bytes, row.bytes.size()) + row.mark);
        }
        // None again: the lines are as they always were.
        ShowLinePage();
        Choose(w->ComboBox5, 0);
        QCOMPARE(w->LineOptions().check, nullptr);
        Send("0x41");
        ++lines;
        QTRY_COMPARE_WITH_TIMEOUT(w->RX1->count(), lines, 5000);
        QCOMPARE(Line(0), Shown("A", 1));
    }

    // The marks over frames of real protocols, each check value's kind once.
    void receivedCheckMarks_data() {
        QTest::addColumn<QString>("check");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("mark");
        const QByteArray nmea = "$GPGLL,5057.970,N,00146.110,E,142451,A*27";
        QTest::newRow("NMEA, CR LF left out") << "NMEA 0183" << nmea + "\r\n"
                                              << " ok";
        QTest::newRow("NMEA, wrong")
            << "NMEA 0183" << QByteArray("$GPGLL,1*00\r\n") << " bad, expected \"*4D\"";
        QTest::newRow("NMEA, no sentence") << "NMEA 0183" << QByteArray("*27\r\n") << " too short";
        QTest::newRow("NMEA, no checksum")
            << "NMEA 0183" << QByteArray("$GPGLL,5057.970,N\r\n") << " bad, no checksum";
        QTest::newRow("NMEA, one digit")
            << "NMEA 0183" << QByteArray("$GPGLL,1*4\r\n") << " bad, malformed checksum";
        QTest::newRow("NMEA, not hex")
            << "NMEA 0183" << QByteArray("$GPGLL,1*4G\r\n") << " bad, malformed checksum";
        QTest::newRow("SUM") << "SUM" << QByteArray("\x01\x02\x03") << " ok";
        QTest::newRow("SUM, empty") << "SUM" << QByteArray() << " too short";
        QTest::newRow("CRC-32, short") << "CRC-32/ISO-HDLC" << QByteArray("abc") << " too short";
        QTest::newRow("CRC-32") << "CRC-32/ISO-HDLC" << QByteArray("123456789\x26\x39\xF4\xCB")
                                << " ok";
        QTest::newRow("XMODEM, high byte first")
            << "CRC-16/XMODEM" << QByteArray("123456789\xC3\x31") << " bad, expected 0x31 0xC3";
    }
    void receivedCheckMarks() {
        QFETCH(QString, check);
        QFETCH(QByteArray, message);
        QFETCH(QString, mark);
        const fun::TCheckValue* value = fun::FindCheckValue(check.toStdString());
        QVERIFY(value != nullptr);
        QCOMPARE(QString::fromStdString(ReceivedCheckMark(*value, message.toStdString())), mark);
    }

    // A switch for every option; wrong values are refused with a reason.
    void commandLineSwitches() {
        const auto parse = [](QStringList arguments) {
            arguments.prepend(QStringLiteral("tarvik2"));
            return LineOptionsArgument(arguments);
        };
        const TLineOptions none = parse({});
        QVERIFY(none.PlainReceive() && !none.logSent && !none.logEvents && !none.baudRate);
        const TLineOptions all =
            parse({"--timestamps", "time", "--log-sent", "--messages", "end:0x03", "--log-events",
                   "--data-bits", "7", "--stop-bits", "2", "--flow-control", "hardware", "--baud",
                   "250000", "--reconnect", "--check", "BCC", "/dev/pts/9"});
        QCOMPARE(all.timestamps, timeline::TimestampMode::TimeOfDay);
        QVERIFY(all.logSent && all.logEvents && all.reconnect);
        QCOMPARE(all.messages, TMessageRule::EndByte);
        QCOMPARE(int(all.endByte), 0x03);
        QCOMPARE(*all.dataBits, cport::dbSeven);
        QCOMPARE(*all.stopBits, cport::sbTwoStopBits);
        QCOMPARE(*all.flowControl, cport::fcHardware);
        QCOMPARE(*all.baudRate, 250000);
        QCOMPARE(parse({"--messages", "gap:25"}).gapMs, 25);
        QCOMPARE(parse({"--check", "crc-16/modbus"}).check, fun::FindCheckValue("CRC-16/MODBUS"));
        QCOMPARE(parse({"--check", "CRC-32"}).check, fun::FindCheckValue("CRC-32/ISO-HDLC"));
        QVERIFY(!parse({"--check", "sum"}).PlainReceive());
        for (const QStringList& wrong :
             {QStringList{"--timestamps", "soon"}, QStringList{"--messages", "gap:0"},
              QStringList{"--messages", "end:CRLF"}, QStringList{"--data-bits", "9"},
              QStringList{"--baud", "fast"}, QStringList{"--check", "CRC-99"}}) {
            QVERIFY_THROWS_EXCEPTION(ECommandLine, parse(wrong));
        }
        // A custom rate from the switches reaches C1 and shows on the page.
        test::PtyPair line;
        Build(line.Path(), all);
        QCOMPARE(w->C1->BaudRate(), cport::brCustom);
        QCOMPARE(w->C1->CustomBaudRate(), 250000);
        QCOMPARE(w->Edit2->text(), QStringLiteral("250000"));
        QCOMPARE(w->ComComboBox4->currentText(), QStringLiteral("7"));
        QCOMPARE(w->ComboBox2->currentIndex(), 1);
        QCOMPARE(w->ComboBox5->currentText(), QStringLiteral("BCC (XOR as two hex digits)"));
        QVERIFY(w->CheckBox3->isChecked() && w->CheckBox4->isChecked() &&
                w->CheckBox7->isChecked());
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::LinePageTest)
#include "line_page_test.moc"
