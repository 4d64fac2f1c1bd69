// The command line with a line of megabytes: a paste arrives whole, the line
// still answers keys, the mouse and Send, and a paste past the bound is
// refused with the line kept.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "app/command_line_edit.h"
#include "app/frmmain.h"
#include "app/qt_message_box.h"
#include "base/message_box.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

const QString kTooMany = QStringLiteral("The command line has more than 256 tokens.");

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> boxes;
    std::unique_ptr<test::PtyPair> pty;
    std::unique_ptr<Tfrmmain> w;

    TCommandLineEdit* Line() const {
        return qobject_cast<TCommandLineEdit*>(w->ComboBox1->lineEdit());
    }

    void Paste(const QString& text) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(Line(), Qt::Key_V, Qt::ControlModifier);
    }

    QStringList Boxes() const {
        QStringList texts;
        for (const auto& box : boxes->boxes) texts << QString::fromStdString(box.text);
        return texts;
    }

  private slots:
    void init() {
        boxes = std::make_unique<test::BoxRecorder>();
        pty = std::make_unique<test::PtyPair>();
        w = std::make_unique<Tfrmmain>(nullptr, pty->Path());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QVERIFY(Line() != nullptr);
        QTest::mouseClick(Line(), Qt::LeftButton);
        QVERIFY(Line()->hasFocus());
    }
    void cleanup() {
        w.reset();
        pty.reset();
        boxes.reset();
    }

    // 2 MiB of tokens pasted with Ctrl+V: whole in the line; a key typed and
    // Backspace edit its end; Send and SUM answer with the codec's limit and
    // send nothing; the window shows it without QLineEdit's layout.
    void twoMegabytePasteArrivesWholeAndTheLineAnswers() {
        const QString text = QStringLiteral("0x41 ").repeated(2 * 1024 * 1024 / 5);
        Paste(text);
        QVERIFY(w->ComboBox1->currentText() == text);
        QVERIFY(Line()->IsLong());
        QCOMPARE(Line()->displayText(), QString());  // QLineEdit lays out nothing
        QTest::keyClick(Line(), Qt::Key_X);
        QVERIFY(w->ComboBox1->currentText() == text + "x");
        QTest::keyClick(Line(), Qt::Key_Backspace);
        QVERIFY(w->ComboBox1->currentText() == text);
        Line()->grab();  // draws the line's end without failing
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QTest::mouseClick(w->BitBtn4, Qt::LeftButton);
        QCOMPARE(Boxes(), QStringList({kTooMany, kTooMany}));
        QCOMPARE(w->TX1->count(), 0);
        QVERIFY(w->ComboBox1->currentText() == "0x33 " + text);
        // A sendable line again: the bytes go out.
        QTest::keyClick(Line(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(Line(), QStringLiteral("0x42"));
        QVERIFY(!Line()->IsLong());
        QCOMPARE(Line()->displayText(), QStringLiteral("0x42"));
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QCOMPARE(pty->Read(1), std::string("B"));
    }

    // Keys and the mouse on a long line, which this class maps itself. The
    // line is 9000 "a", then " bc de"; the cursor starts at its end.
    void editingALongLine_data() {
        QTest::addColumn<QString>("keys");  // L R Home End ^ (Ctrl) + (Shift) D (Delete) C X
        QTest::addColumn<QString>("tail");  // the line's end afterwards, past the a's
        QTest::addColumn<QString>("copied");
        QTest::addColumn<int>("length");  // of the whole line
        QTest::newRow("Left, Left, Delete") << "L L D"
                                            << " bc e"
                                            << "" << 9005;
        QTest::newRow("Shift+Left twice, Cut") << "+L +L X"
                                               << " bc "
                                               << "de" << 9004;
        QTest::newRow("word moves, select a word, Copy") << "^L ^L +^R C"
                                                         << " bc de"
                                                         << "bc " << 9006;
        QTest::newRow("Ctrl+Delete from a word's start") << "^L ^D"
                                                         << " bc "
                                                         << "" << 9004;
        QTest::newRow("Home, Delete") << "Home D"
                                      << " bc de"
                                      << "" << 9005;
        QTest::newRow("Right past the end") << "R R"
                                            << " bc de"
                                            << "" << 9006;
    }
    void editingALongLine() {
        QFETCH(QString, keys);
        QFETCH(QString, tail);
        QFETCH(QString, copied);
        QFETCH(int, length);
        Paste(QString(9000, 'a') + " bc de");
        QVERIFY(Line()->IsLong());
        QApplication::clipboard()->clear();
        for (const QString& key : keys.split(' ')) {
            Qt::KeyboardModifiers modifiers;
            QString name = key;
            while (name.size() > 1 && (name[0] == '^' || name[0] == '+')) {
                modifiers |= name[0] == '^' ? Qt::ControlModifier : Qt::ShiftModifier;
                name.remove(0, 1);
            }
            const Qt::Key code = name == "L"      ? Qt::Key_Left
                                 : name == "R"    ? Qt::Key_Right
                                 : name == "Home" ? Qt::Key_Home
                                 : name == "D"    ? Qt::Key_Delete
                                 : name == "C"    ? Qt::Key_C
                                                  : Qt::Key_X;
            if (code == Qt::Key_C || code == Qt::Key_X)
                modifiers |= Qt::ControlModifier;
            QTest::keyClick(Line(), code, modifiers);
        }
        const QString line = w->ComboBox1->currentText();
        QCOMPARE(line.size(), length);
        QVERIFY(line.endsWith(tail));
        QCOMPARE(QApplication::clipboard()->text(), copied);
    }

    // A click puts the cursor where the mouse is, a drag selects, a double
    // click takes the word under the mouse.
    void mouseOnALongLine() {
        Paste("0x01 " + QString(9000, 'a'));
        QTest::keyClick(Line(), Qt::Key_Home);
        const QPoint start(1, Line()->height() / 2);
        QTest::mouseClick(Line(), Qt::LeftButton, {}, start + QPoint(200, 0));
        const int at = Line()->cursorPosition();
        QVERIFY2(at > 5 && at < 100, qPrintable(QString::number(at)));
        QTest::mouseDClick(Line(), Qt::LeftButton, {}, start);
        QCOMPARE(Line()->selectedText(), QStringLiteral("0x01"));
        QTest::mousePress(Line(), Qt::LeftButton, {}, start);
        QTest::mouseMove(Line(), start + QPoint(200, 0));
        QTest::mouseRelease(Line(), Qt::LeftButton, {}, start + QPoint(200, 0));
        QCOMPARE(Line()->selectionStart(), 0);
        QCOMPARE(Line()->selectedText().size(), at);
    }

    // What the context menu calls: cut, copy and paste on a long line, where
    // QLineEdit's own copy() and cut() do nothing; then the menu's own Copy.
    void menuCommandsOnALongLine() {
        const QString line = QString(9000, 'a') + " bc de";
        Paste(line);
        QTest::keyClick(Line(), Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(Line(), Qt::Key_Left, Qt::ShiftModifier);
        Line()->CutSelection();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("de"));
        QVERIFY(w->ComboBox1->currentText() == line.chopped(2));
        Line()->PasteFrom();
        QVERIFY(w->ComboBox1->currentText() == line);
        QTest::keyClick(Line(), Qt::Key_Home, Qt::ShiftModifier);
        Line()->CopySelection();
        QVERIFY(QApplication::clipboard()->text() == line);
        QApplication::clipboard()->setText(QString(TCommandLineEdit::kMaxLength + 1, 'a'));
        Line()->PasteFrom();  // would replace the whole line, and still be too long
        QVERIFY(w->ComboBox1->currentText() == line);
        QCOMPARE(boxes->boxes.size(), std::size_t(1));
        // The menu's own items act through them: Copy is enabled and copies.
        QTest::keyClick(Line(), Qt::Key_End);
        QTest::keyClick(Line(), Qt::Key_Left, Qt::ShiftModifier);
        QApplication::clipboard()->clear();
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                                  Line()->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(Line(), &request);
        QMenu* menu = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr;
        }));
        QAction* copy = nullptr;
        for (QAction* item : menu->actions()) {
            if (item->text().endsWith("\t" + QKeySequence(QKeySequence::Copy).toString()))
                copy = item;
        }
        QVERIFY(copy != nullptr && copy->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(copy).center());
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("e"));
    }

    // Send on a line of 4 Mi characters that is one bad token: the real box
    // shows a screenful, the start of the error and its length, with the
    // rest under its details; the window answers again and the line stays.
    // A line of characters the notation skips is walked once.
    void hugeBadLineGivesAScreenfulBox() {
        const QString bad = QStringLiteral("1") + QString(TCommandLineEdit::kMaxLength - 1, 'g');
        Paste(bad);
        QVERIFY(w->ComboBox1->currentText() == bad);
        const MessageBoxFunction recorder = SetMessageBoxFunction({});
        InstallQtMessageBox();
        QString shown;
        QString details;
        QSize size;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                details = box->detailedText();
                size = box->frameGeometry().size();
                box->accept();
            }
        });
        watch.start(5);
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        watch.stop();
        SetMessageBoxFunction(recorder);
        const QSize screen = w->screen()->availableSize();
        QVERIFY2(size.isValid() && size.height() <= screen.height() &&
                     size.width() <= screen.width(),
                 qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
        QVERIFY(shown.startsWith("'1ggg"));
        const QString whole = QStringLiteral("(%1 characters)").arg(bad.size() + 32);
        QVERIFY2(shown.endsWith(QChar(0x2026) + QStringLiteral(" ") + whole), qPrintable(shown));
        QVERIFY(details.startsWith("'1ggg") && details.endsWith(whole));
        QVERIFY(w->ComboBox1->currentText() == bad);

        QTest::keyClick(Line(), Qt::Key_A, Qt::ControlModifier);
        Paste(QString(TCommandLineEdit::kMaxLength, 'z'));
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QVERIFY(boxes->boxes.empty());
        QCOMPARE(w->TX1->count(), 1);
    }

    // Past the bound a paste is refused with a message; the line stays.
    void pasteBeyondTheBoundIsRefused() {
        QTest::keyClicks(Line(), QStringLiteral("0x01"));
        Paste(QString(TCommandLineEdit::kMaxLength, 'a'));
        QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("0x01"));
        QCOMPARE(boxes->boxes.size(), std::size_t(1));
        QVERIFY(Boxes().front().startsWith("The text is too long for the command line"));
        QVERIFY(!Line()->IsLong());
        Paste(QString(TCommandLineEdit::kMaxLength - 4, 'a'));  // exactly at the bound
        QCOMPARE(w->ComboBox1->currentText().size(), TCommandLineEdit::kMaxLength);
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::CommandLineTest)
#include "long_line_test.moc"
