// The sequences page as a user meets it, on ptys: a set loaded, refused,
// saved and loaded back; its sends on F1-F12 pressed as keys; its rules
// answering, marking, counting and stopping the timer; a thousand polls
// answered with check values, none missed.

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "sequences/sequence_file.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

using namespace std::chrono_literals;

// The bytes that come back within `limit`, the window's events served meanwhile
// (its arrivals are handed over to the main thread).
std::string Answer(test::PtyPair& line, std::size_t count, std::chrono::milliseconds limit = 5s) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        got += line.Read(count - got.size(), 2ms);  // a poll of at least 1 ms
    }
    return got;
}

std::string Crc16Modbus(const std::string& bytes) {
    unsigned crc = 0xFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

}  // namespace

class SequencesTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<Tfrmmain> w;
    std::unique_ptr<QTemporaryDir> dir;
    FileDialogFunction previousDialog;
    QString chosenFile;  // what every file dialog answers

    std::string File(const char* name, const std::string& text) {
        const std::string path = dir->filePath(QString::fromLatin1(name)).toStdString();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    void Open(const std::string& port, const TLineOptions& options = {}) {
        w = std::make_unique<Tfrmmain>(nullptr, port, options);
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
    }

    QStringList LogLines() const {
        QStringList lines;
        for (int i = 0; i < w->RX1->count(); ++i) lines << w->RX1->text(i);
        return lines;
    }

  private slots:
    void init() {
        recorder = std::make_unique<test::BoxRecorder>();
        dir = std::make_unique<QTemporaryDir>();
        previousDialog = SetFileDialogFunction(
            [this](const FileDialogRequest&) -> FileDialogAnswer { return chosenFile; });
    }
    void cleanup() {
        w.reset();
        SetFileDialogFunction(previousDialog);
        dir.reset();
        recorder.reset();
    }

    void aSetIsLoadedRefusedSavedAndLoadedBack() {
        test::PtyPair line;
        Open(line.Path());
        QCOMPARE(w->PageControl1->tabText(9), QStringLiteral("Se&quences"));
        QCOMPARE(w->StringGrid1->rowCount(), 0);
        w->PageControl1->setCurrentWidget(w->TabSheet10);

        chosenFile =
            QString::fromStdString(File("set.seq",
                                        "[send hello]\nline = \"hi\"\nkey = F2\n"
                                        "[send bye]\nline = 0x04\n"
                                        "[rule hi back]\npattern = \"hi\"\ncount = yes\n"));
        QTest::mouseClick(w->BitBtn12, Qt::LeftButton);
        QCOMPARE(recorder->boxes.size(), std::size_t(0));
        QCOMPARE(w->Panel2->findChildren<QPushButton*>().size(), 2);
        QCOMPARE(w->StringGrid1->rowCount(), 1);
        QCOMPARE(w->StringGrid1->item(0, 3)->text(), QStringLiteral("0"));

        // A bad file is refused whole, with its place and reason; the set stays.
        chosenFile = QString::fromStdString(File("bad.seq", "[send a]\nline = 0x01\nkey = F20\n"));
        QTest::mouseClick(w->BitBtn12, Qt::LeftButton);
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY(recorder->boxes[0].text.find("bad.seq:3: 'key' takes F1 to F12") !=
                std::string::npos);
        QCOMPARE(w->Sequences().sends.size(), std::size_t(2));

        // The tick off with the keyboard, then saved: the file says so, and loads back equal.
        w->StringGrid1->setFocus();
        w->StringGrid1->setCurrentCell(0, 0);
        QTest::keyClick(w->StringGrid1, Qt::Key_Space);
        QVERIFY(!w->SequenceRules().Rule(0).enabled);
        chosenFile = dir->filePath(QStringLiteral("saved.seq"));
        QTest::mouseClick(w->BitBtn13, Qt::LeftButton);
        sequences::SequenceSet expected = w->Sequences();
        expected.rules[0].enabled = false;
        QCOMPARE(sequences::LoadSequenceSet(chosenFile.toStdString()) == expected, true);
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
    }

    void theEditorKeepsChecksAndCancels() {
        test::PtyPair line;
        Open(line.Path());
        w->LoadSequences(File("set.seq", "[send a]\nline = 0x41\n[rule r]\npattern = 0x41\n"));
        const sequences::SequenceSet before = w->Sequences();
        // Each step runs in the editor's own modal loop, as the user's keys would.
        const auto inEditor = [this](std::function<void(QDialog*)> step) {
            QTimer::singleShot(0, this, [step] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog != nullptr);
                step(dialog);
            });
            QTest::mouseClick(w->BitBtn11, Qt::LeftButton);
        };
        // A new send row without a line: OK refuses, the editor stays; Esc cancels.
        inEditor([this](QDialog* dialog) {
            QTest::mouseClick(dialog->findChildren<QPushButton*>(QString())[0], Qt::LeftButton);
            QTest::keyClick(dialog, Qt::Key_Return);
            QCOMPARE(recorder->boxes.size(), std::size_t(1));
            QVERIFY(recorder->boxes[0].text.find("has no line") != std::string::npos);
            QVERIFY(dialog->isVisible());
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QVERIFY(w->Sequences() == before);
        // The rule's name edited and taken with OK.
        inEditor([](QDialog* dialog) {
            auto* rules = dialog->findChild<QTableWidget*>(QStringLiteral("RuleTable"));
            rules->item(0, 0)->setText(QStringLiteral("renamed"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        QCOMPARE(w->SequenceRules().Rule(0).name, std::string("renamed"));
        QCOMPARE(w->Sequences().sends, before.sends);
    }

    void functionKeysSendFromAnyPage() {
        std::string text;
        for (int key = 1; key <= 12; ++key)
            text += "[send s" + std::to_string(key) + "]\nline = " + std::to_string(key) +
                    "\nkey = " + (key == 12 ? "Shift+F12" : "F" + std::to_string(key)) + "\n";
        text += "[send twice]\nline = 0x41\nrepeat = 2\ninterval = 10\n";
        test::PtyPair line;
        Open(line.Path());
        w->LoadSequences(File("keys.seq", text));
        w->PageControl1->setCurrentIndex(0);  // Rx 1: keys act from any page
        for (int key = 1; key <= 12; ++key) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(Qt::Key_F1 + key - 1),
                            key == 12 ? Qt::ShiftModifier : Qt::NoModifier);
            QCOMPARE(Answer(line, 1), std::string(1, char(key)));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F12);  // F12 without Shift is none
        QCOMPARE(Answer(line, 1, 100ms), std::string());
        QTest::mouseClick(w->Panel2->findChildren<QPushButton*>().back(), Qt::LeftButton);
        QCOMPARE(Answer(line, 2), std::string("AA"));
        // Closed, the keys send nothing and the buttons are off.
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(!w->Panel2->findChildren<QPushButton*>().front()->isEnabled());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        QCOMPARE(recorder->boxes.size(), std::size_t(0));
    }

    void rulesAnswerMarkCountAndStopTheTimer() {
        test::PtyPair line;
        TLineOptions options;
        options.logSent = true;
        Open(line.Path(), options);
        w->LoadSequences(File("rules.seq",
                              "[send ack]\nline = 0x06\n"
                              "[rule poll]\npattern = \"P\" ??\nanswer = ack\nmark = yes\n"
                              "count = yes\nstop timer = yes\n"
                              "[rule late]\npattern = \"L\"\nanswer = ack\ndelay = 60\n"));
        w->Edit1->setText(QStringLiteral("100000"));  // on, but no tick comes during the test
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->CheckBox1->isChecked());

        line.Write("P1");
        QCOMPARE(Answer(line, 1), std::string("\x06"));
        // The answer after the message it answers, both in the log.
        QTRY_COMPARE(LogLines().mid(0, 2), (QStringList{QStringLiteral(">> 0x06 (1)"),
                                                        QStringLiteral("P  1 (2) [poll]")}));
        QVERIFY(!w->CheckBox1->isChecked());
        QCOMPARE(w->StringGrid1->item(0, 3)->text(), QStringLiteral("1"));

        line.Write("L");
        QCOMPARE(Answer(line, 1), std::string("\x06"));
        QCOMPARE(w->SequenceRules().Figures(1).answered, std::uint64_t(1));
        QVERIFY(w->SequenceRules().Figures(1).responseUs.front() >= 60'000);
        QCOMPARE(w->StringGrid1->item(1, 3)->text(), QStringLiteral("-"));
        QCOMPARE(recorder->boxes.size(), std::size_t(0));
    }

    void pollsAreAnsweredNoneMissed_data() {
        QTest::addColumn<bool>("framed");
        QTest::newRow("per arrival, as a stream") << false;
        QTest::newRow("one line per message, by end byte") << true;
    }
    void pollsAreAnsweredNoneMissed() {
        QFETCH(bool, framed);
        test::PtyPair line;
        TLineOptions options;
        if (framed) {
            options.messages = TMessageRule::EndByte;
            options.endByte = 0x7E;
        }
        Open(line.Path(), options);
        w->LoadSequences(
            File("polls.seq",
                 "[send reply]\nline = 0x01 0x03 0x02 0x00 0x2A\ncheck = CRC-16/MODBUS\n"
                 "[rule poll]\npattern = 0x01 0x03 ?? ?? 0x00 0x01\n"
                 "check = CRC-16/MODBUS\nanswer = reply\ncount = yes\n"));
        const std::string end = framed ? "\x7E" : "";
        const std::string reply = Crc16Modbus(std::string("\x01\x03\x02\x00\x2A", 5));
        constexpr int kPolls = 1000;
        for (int i = 0, sent = 0; sent < kPolls; ++i) {
            const std::string poll = Crc16Modbus(std::string("\x01\x03", 2) + char(i >> 8) +
                                                 char(i) + std::string("\x00\x01", 2));
            if (framed && poll.find('\x7E') != std::string::npos)
                continue;  // the end byte would cut it in two
            line.Write(poll + end);
            QCOMPARE(Answer(line, reply.size()), reply);
            ++sent;
        }
        // A poll whose check value does not verify is not answered.
        std::string bad = Crc16Modbus(std::string("\x01\x03\x00\x00\x00\x01", 6));
        bad.back() ^= 1;
        line.Write(bad + end);
        QCOMPARE(Answer(line, 1, 200ms), std::string());
        const sequences::RuleFigures& figures = w->SequenceRules().Figures(0);
        QCOMPARE(figures.matched, std::uint64_t(kPolls));
        QCOMPARE(figures.answered, std::uint64_t(kPolls));
        QCOMPARE(w->StringGrid1->item(0, 3)->text(), QString::number(kPolls));
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::SequencesTest)
#include "sequences_test.moc"
