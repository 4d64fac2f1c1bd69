// Reading a log at a glance: verdicts drawn in colour with a mark at the
// line's start, their counts on the line page, and the find bar (Ctrl+F,
// F3, Shift+F3, the filters), driven with real keys and clicks.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/executable_dir.h"
#include "app/find_bar.h"
#include "app/frmmain.h"
#include "app/log_item_delegate.h"
#include "app_test.h"
#include "codec/check_value.h"
#include "line_fixtures.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

// Counts the paint events of some widgets while it is on.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(std::vector<QObject*> watched) : watched_(std::move(watched)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    bool eventFilter(QObject* object, QEvent* event) override {
        if (on && event->type() == QEvent::Paint &&
            std::find(watched_.begin(), watched_.end(), object) != watched_.end())
            ++count;
        return false;
    }
    bool on = false;
    int count = 0;

  private:
    std::vector<QObject*> watched_;
};

class LogReadingTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<Tfrmmain> w;

    void Build(const std::string& port, const TLineOptions& options = {}) {
        w = std::make_unique<Tfrmmain>(nullptr, port, options);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }

    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : w.get(), key, modifiers);
    }

    // The lines RX1's view shows, top to bottom.
    QStringList Shown() const {
        QStringList lines;
        const QAbstractItemModel* model = w->RX1->model();
        for (int row = 0; row < model->rowCount(); ++row)
            lines << model->index(row, 0).data().toString();
        return lines;
    }

    static TLineKind KindOf(TLineList* log, int row) {
        return static_cast<TLineKind>(
            log->model()->index(row, 0).data(TLineListModel::kKindRole).toInt());
    }

    void ShowRx1AndClick(int row) {
        w->PageControl1->setCurrentWidget(w->TabSheet1);
        QTest::mouseClick(w->RX1->viewport(), Qt::LeftButton, {}, w->RX1->visualRowRect(row).center());
        QCOMPARE(w->RX1->currentRow(), row);
    }

  private slots:
    void init() { recorder = std::make_unique<test::BoxRecorder>(); }
    void cleanup() {
        w.reset();
        QVERIFY(recorder->boxes.empty());
        recorder.reset();
    }

    // With a check chosen, received lines are good, bad or too short: each
    // drawn in its colour, marked at the start, counted since Start; the
    // text stays as it is saved and copied.
    void verdictsStandOut() {
        test::PtyPair line;
        TLineOptions options;
        options.check = fun::FindCheckValue("CRC-16/MODBUS");
        Build(line.Path(), options);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        const struct {
            std::string bytes;
            TLineKind kind;
            QString end;
        } rows[] = {{std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8), TLineKind::Ok, " ok"},
                    {std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCC", 8), TLineKind::Bad,
                     " bad, expected 0xC5 0xCD"},
                    {"\x01", TLineKind::TooShort, " too short"}};
        int count = w->RX1->count();
        for (const auto& row : rows) {
            line.Write(row.bytes);
            ++count;
            QTRY_COMPARE(w->RX1->count(), count);
            QVERIFY2(w->RX1->text(0).endsWith(row.end), qPrintable(w->RX1->text(0)));
            QCOMPARE(KindOf(w->RX1, 0), row.kind);
        }
        QCOMPARE(KindOf(w->RX1, count - 1), TLineKind::Plain);  // the empty line of Clear all
        // Colours from the palette's base: distinct, and lighter on a dark one.
        QPalette light;
        light.setColor(QPalette::Base, Qt::white);
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        const QColor ok = TLogItemDelegate::KindColour(TLineKind::Ok, light);
        const QColor bad = TLogItemDelegate::KindColour(TLineKind::Bad, light);
        QVERIFY(ok.isValid() && bad.isValid() && ok != bad);
        QVERIFY(TLogItemDelegate::KindColour(TLineKind::Bad, dark).lightness() > bad.lightness());
        QVERIFY(!TLogItemDelegate::KindColour(TLineKind::Plain, light).isValid());
        QVERIFY(TLogItemDelegate::KindMark(TLineKind::Ok) != TLogItemDelegate::KindMark(TLineKind::Bad));
        // The marks take room at every line's start while the log has verdicts.
        auto* delegate = qobject_cast<TLogItemDelegate*>(w->RX1->itemDelegate());
        QStyleOptionViewItem option;
        option.initFrom(w->RX1);
        const int withMarks = delegate->sizeHint(option, w->RX1->model()->index(0, 0)).width();
        Press(Qt::Key_L, Qt::AltModifier);
        QCOMPARE(w->Label30->text(), QStringLiteral("ok 1, bad 1, too short 1"));
        // Clear all: no verdict left, no room taken.
        QTest::mouseClick(w->BitBtn8, Qt::LeftButton);
        QCOMPARE(w->RX1->Lines()->VerdictLines(), 0);
        QVERIFY(delegate->sizeHint(option, w->RX1->model()->index(0, 0)).width() < withMarks);
        // A new Start counts anew.
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QTRY_COMPARE(w->Label30->text(), QStringLiteral("ok 0, bad 0, too short 0"));
    }

    // Ctrl+F opens the bar below the log shown; typing searches, F3 and
    // Shift+F3 step through the matches and go round, the filters hide what
    // does not match while the log keeps every line, Esc shows them all again.
    void findAndFilter() {
        test::PtyPair line;
        Build(line.Path());
        w->RX1->clear();
        w->RX1->Lines()->Insert(0, {"$GPRMC (10) ok", ">> 0x01 (1)", "$GPGGA (10) bad", "tail"},
                                {TLineKind::Ok, TLineKind::Sent, TLineKind::Bad, TLineKind::Plain});
        ShowRx1AndClick(3);
        Press(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w->FindBar1->isVisible());
        QCOMPARE(w->FindBar1->Log(), w->RX1);
        QVERIFY(w->FindBar1->Text()->hasFocus());
        QTest::keyClicks(w->FindBar1->Text(), QStringLiteral("gp"));
        QCOMPARE(w->FindBar1->MatchCount(), 2);
        QCOMPARE(w->FindBar1->Count()->text(), QStringLiteral("2 matching"));
        Press(Qt::Key_F3);
        QCOMPARE(w->RX1->currentRow(), 0);
        QCOMPARE(w->FindBar1->Count()->text(), QStringLiteral("1 of 2"));
        Press(Qt::Key_F3);
        QCOMPARE(w->RX1->currentRow(), 2);
        Press(Qt::Key_F3);  // round to the first
        QCOMPARE(w->RX1->currentRow(), 0);
        Press(Qt::Key_F3, Qt::ShiftModifier);  // round to the last
        QCOMPARE(w->RX1->currentRow(), 2);
        // Regular expressions; a broken one says so and finds nothing.
        QTest::mouseClick(w->FindBar1->RegularExpression(), Qt::LeftButton);
        w->FindBar1->Text()->clear();
        QTest::keyClicks(w->FindBar1->Text(), QStringLiteral("^\\$gp.*(ok|bad)$"));
        QCOMPARE(w->FindBar1->MatchCount(), 2);
        QTest::keyClicks(w->FindBar1->Text(), QStringLiteral("("));
        QCOMPARE(w->FindBar1->MatchCount(), 0);
        QVERIFY(w->FindBar1->Count()->text().startsWith(QStringLiteral("Not a regular expression")));
        QTest::keyClick(w->FindBar1->Text(), Qt::Key_Backspace);
        // Only the matching lines; new arrivals that match join them.
        QTest::mouseClick(w->FindBar1->OnlyMatching(), Qt::LeftButton);
        QCOMPARE(Shown(), QStringList({"$GPRMC (10) ok", "$GPGGA (10) bad"}));
        QCOMPARE(w->RX1->count(), 4);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        line.Write("$GPVTG");
        QTRY_COMPARE(w->RX1->count(), 5);
        line.Write("x");
        QTRY_COMPARE(w->RX1->count(), 6);
        w->FindBar1->Text()->clear();
        QTest::keyClicks(w->FindBar1->Text(), QStringLiteral("G  P"));
        QTest::mouseClick(w->FindBar1->RegularExpression(), Qt::LeftButton);
        QCOMPARE(Shown(), QStringList({QStringLiteral("0x24  G  P  V  T  G (6)")}));
        // The quick filter: only bad (a check's verdicts are there).
        QTest::mouseClick(w->FindBar1->OnlyMatching(), Qt::LeftButton);
        QVERIFY(w->FindBar1->OnlyBad()->isEnabled());
        QVERIFY(!w->FindBar1->OnlySent()->isEnabled());  // no sent blocks in the log
        QTest::mouseClick(w->FindBar1->OnlyBad(), Qt::LeftButton);
        QCOMPARE(Shown(), QStringList{"$GPGGA (10) bad"});
        // Copy acts on the lines' own rows while filtered.
        QTest::mouseClick(w->RX1->viewport(), Qt::LeftButton, {}, w->RX1->visualRowRect(4).center());
        QCOMPARE(w->RX1->selectedRows(), QList<int>{4});
        // Esc closes the bar: every line again, and Stop is not pressed.
        w->FindBar1->Text()->setFocus();
        Press(Qt::Key_Escape);
        QVERIFY(!w->FindBar1->isVisible());
        QCOMPARE(Shown().size(), 6);
        QVERIFY(w->C1->Connected());
    }

    // A capture shown (--open-capture) is checked as the live line would be.
    void openedCaptureIsChecked() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.cap"));
        QFile fixed(path);
        QVERIFY(fixed.open(QIODevice::WriteOnly));
        fixed.write("# tarvik2 capture 1\n"
                    "1000 1765258210000000 rx 010300000000ac5cd0\n"
                    "2000 1765258210001000 rx 01030000000ac5cd\n");
        fixed.close();
        TLineOptions options;
        options.check = fun::FindCheckValue("CRC-16/MODBUS");
        test::PtyPair line;
        Build(line.Path(), options);
        w->ShowCapture(path.toStdString());
        QVERIFY(w->RX1->text(0).endsWith(QStringLiteral(" ok")));
        QCOMPARE(KindOf(w->RX1, 0), TLineKind::Ok);
        QVERIFY(w->RX1->text(1).contains(QStringLiteral(" bad, expected")));
        QCOMPARE(KindOf(w->RX1, 1), TLineKind::Bad);
    }

    // --display text: text protocols as they read, in a fixed-pitch font.
    // A change of the form (the Line page's box, "ASCII") shows
    // the lines already there anew, received and sent alike, as lines
    // arriving then read; a line without bytes keeps its text, the current
    // line stays current.
    void textView() {
        test::PtyPair line;
        TLineOptions options;
        options.display = TDisplayForm::TextForm;
        options.logSent = true;
        Build(line.Path(), options);
        QVERIFY(w->CheckBox9->isChecked());
        QVERIFY(QFontInfo(w->RX1->font()).fixedPitch());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        const int opened = w->RX1->count();  // the empty line of Clear all
        const QString event = w->RX1->text(0);
        // A block received, then one sent: the newest two lines.
        const auto receiveAndSend = [&] {
            const int count = w->RX1->count();
            line.Write(std::string("$GP,1*7C\r\n\x01", 11));
            QTRY_COMPARE(w->RX1->count(), count + 1);
            w->ComboBox1->setEditText(QStringLiteral("\"AT\" 0x0D"));
            QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
            QTRY_COMPARE(w->RX1->count(), count + 2);
            QCOMPARE(line.Read(3), std::string("AT\r"));
        };
        receiveAndSend();
        QCOMPARE(w->RX1->text(1), QStringLiteral("$GP,1*7C\\r\\n\\x01 (11)"));
        QCOMPARE(w->RX1->text(0), QStringLiteral(">> AT\\r (3)"));
        const struct {
            const char* how;
            std::function<void()> change;
            QString received;  // as it reads in the new form
        } changes[] = {
            {"Text view unticked with the mouse",
             [&] {
                 Press(Qt::Key_L, Qt::AltModifier);
                 QTest::mouseClick(w->CheckBox9, Qt::LeftButton, {},
                                   QPoint(8, w->CheckBox9->height() / 2));
                 QCOMPARE(w->RX1->font(), w->font());
             },
             "0x24  G  P 0x2C  1 0x2A  7  C 0x0D 0x0A 0x01 (11)"},
            {"ASCII unticked with the mouse",
             [&] { QTest::mouseClick(w->CheckBox2, Qt::LeftButton, {}, QPoint(8, w->CheckBox2->height() / 2)); },
             "0x24 0x47 0x50 0x2C 0x31 0x2A 0x37 0x43 0x0D 0x0A 0x01 (11)"},
            {"Text view ticked with the space bar",
             [&] {
                 ShowRx1AndClick(1);
                 Press(Qt::Key_L, Qt::AltModifier);
                 w->CheckBox9->setFocus();
                 Press(Qt::Key_Space);
                 QCOMPARE(w->RX1->currentRow(), 1);
             },
             "$GP,1*7C\\r\\n\\x01 (11)"},
        };
        for (const auto& change : changes) {
            change.change();
            QCOMPARE(w->RX1->text(w->RX1->count() - opened), event);
            QCOMPARE(w->RX1->text(1), change.received);
            receiveAndSend();
            // Every earlier pair reads as the pair that arrived in the new form.
            for (int row = 2; row < w->RX1->count() - opened; ++row)
                QVERIFY2(w->RX1->text(row) == w->RX1->text(row % 2), change.how);
        }
    }

    // The same picture, but for a step of a colour's channel (a gradient
    // drawn a few rows further down may round so).
    static bool Alike(const QImage& a, const QImage& b) {
        if (a.size() != b.size())
            return false;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                if (std::abs(qRed(p) - qRed(q)) > 2 || std::abs(qGreen(p) - qGreen(q)) > 2 ||
                    std::abs(qBlue(p) - qBlue(q)) > 2)
                    return false;
            }
        }
        return true;
    }

    // Lines coming in move the rows drawn and only the new row is drawn:
    // what the window holds is what drawing the whole log anew gives, with
    // a line current, scrolled down or not.
    // The part of the window `widget` covers, as the window holds it.
    QImage Held(QWidget* widget) const {
        const QRect area(widget->mapTo(w.get(), QPoint()), widget->size());
        return w->screen()->grabWindow(w->winId()).copy(area).toImage();
    }

    void arrivalsDrawAsAWholeRepaint() {
        test::PtyPair line;
        Build(line.Path());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        TLineList* log = w->RX1;
        const auto held = [this](QWidget* widget) { return Held(widget); };
        for (int i = 0; i < 40; ++i) {
            const int count = log->count();
            line.Write("$GPGGA," + std::to_string(i * 7919) + ",A*00\r\n");
            QTRY_COMPARE(log->count(), count + 1);
            if (i == 10)
                ShowRx1AndClick(3);
            if (i == 25)
                QTest::keyClick(log, Qt::Key_PageDown);
            log->visualRowRect(0);  // the layout, as the next paint would make it
            QCoreApplication::sendPostedEvents();
            const QImage drawn = held(log->viewport());
            log->viewport()->repaint();
            QVERIFY2(Alike(held(log->viewport()), drawn), qPrintable(QString::number(i)));
        }
        QVERIFY(log->verticalScrollBar()->value() > 0);
    }

    // Lines coming into a full log change neither scroll bar: the bars and
    // the page beneath them are not drawn again, and the window holds what
    // drawing the whole log anew gives.
    void arrivalsInAFullLogDrawNoScrollBar() {
        test::PtyPair line;
        Build(line.Path());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        TLineList* log = w->RX1;
        log->addItems(QStringList(Tfrmmain::kLogCap + 100, QString(400, QLatin1Char('x'))));
        log->visualRowRect(0);  // laid out and drawn before the lines come
        QCoreApplication::sendPostedEvents();
        log->repaint();
        const int full = log->count();
        PaintCounter paints({log->horizontalScrollBar(), log->verticalScrollBar(),
                             log->horizontalScrollBar()->parentWidget(),
                             log->verticalScrollBar()->parentWidget(), log, w->PageControl1});
        for (int i = 0; i < 20; ++i) {
            const std::string text = "$GPGGA," + std::to_string(i) + "*00\r\n";
            const QString shown = QString::fromStdString(w->DisplayBytes(text));
            paints.on = true;
            line.Write(text);
            QTRY_VERIFY(log->text(0).startsWith(shown));
            QCoreApplication::sendPostedEvents();
            paints.on = false;
            const QImage drawn = Held(log);
            log->repaint();
            QVERIFY2(Alike(Held(log), drawn), qPrintable(QString::number(i)));
        }
        QCOMPARE(log->count(), full);
        QCOMPARE(paints.count, 0);
    }

    // --parity reaches C1 and the top row; --count N stops the timer after N
    // sends (shown on the line page); the dialogs start where files may go.
    void switchesAndStartFolder() {
        const auto parse = [](QStringList arguments) {
            arguments.prepend(QStringLiteral("tarvik2"));
            return LineOptionsArgument(arguments);
        };
        QVERIFY(!parse({}).parity && parse({}).sendCount == 0);
        for (const QStringList& wrong : {QStringList{"--parity", "sometimes"},
                                         QStringList{"--count", "-1"}, QStringList{"--count", "x"}})
            QVERIFY_THROWS_EXCEPTION(ECommandLine, parse(wrong));
        test::PtyPair line;
        Build(line.Path(), parse({"--parity", "odd", "--count", "3"}));
        QCOMPARE(w->C1->Parity().Bits(), cport::prOdd);
        QCOMPARE(w->ComComboBox3->currentText(), QStringLiteral("Odd"));
        QCOMPARE(w->Edit5->text(), QStringLiteral("3"));
        w->Edit1->setText(QStringLiteral("1"));
        w->ComboBox1->setEditText(QStringLiteral("\"x\""));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);  // the timer box
        QVERIFY(w->T1->Enabled());
        QTRY_VERIFY(!w->CheckBox1->isChecked());
        const std::string sent = line.Read(4, std::chrono::milliseconds(300));
        QCOMPARE(QString::fromStdString(sent), QStringLiteral("xxx"));
        QVERIFY(!w->T1->Enabled());

        QCOMPARE(parse({"--display", "hex"}).asciiUnticked, true);
        QVERIFY_THROWS_EXCEPTION(ECommandLine, parse({"--display", "braille"}));
        // Qt's X11 platform would take "--display text" for an X display.
        char program[] = "tarvik2", display[] = "--display", text[] = "text", x[] = ":1";
        char* argv[] = {program, display, text, display, x};
        KeepDisplayFormFromQt(5, argv);
        QCOMPARE(QByteArray(argv[1]), QByteArray("--display-form"));
        QCOMPARE(QByteArray(argv[3]), QByteArray("--display"));
        QCOMPARE(parse({"--display-form", "text"}).display, TDisplayForm::TextForm);

        QTemporaryDir writable;
        QCOMPARE(DialogStartDir(writable.path().toStdString()), writable.path().toStdString());
        QCOMPARE(DialogStartDir(writable.filePath("gone").toStdString()),
                 QDir::currentPath().toStdString());
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::LogReadingTest)
#include "log_reading_test.moc"
