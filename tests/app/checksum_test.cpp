// SUM and BCC driven through the real buttons, and the default error handler
// that their failures reach.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <memory>

#include "app/default_error.h"
#include "app/frmmain.h"
#include "app/latin1_text.h"
#include "app/qt_message_box.h"
#include "app_test.h"
#include "codec/fun.h"

namespace tarvik {

namespace {

// The bytes that Send would write for the line.
QByteArray Encoded(const QString& line) {
    fun::StrToTokens(ToText(line));
    fun::TokensToBytes();
    return QByteArray(reinterpret_cast<const char*>(fun::ByteBuf.data()), fun::ByteLen);
}

}  // namespace

class ChecksumTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Tfrmmain> w;

    void Press(QChar button) {
        QTest::mouseClick(button == 'S' ? w->BitBtn4 : w->BitBtn5, Qt::LeftButton);
    }

  private slots:
    void init() {
        w = std::make_unique<Tfrmmain>();
        w->show();
    }
    void cleanup() { w.reset(); }

    // Each row: the command line, the buttons pressed in turn (S = SUM, B = BCC),
    // the command line afterwards and the bytes Send would write from it.
    void frames_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("presses");
        QTest::addColumn<QString>("framed");
        QTest::addColumn<QByteArray>("bytes");
        const QString bccFrame = "0x09 0x01 0x02 \"0A\" 0x0D";
        const QString sumFrame = "0x33 0x01 0x02 0x36";
        QTest::newRow("SUM") << "0x01 0x02"
                             << "S" << sumFrame << QByteArray::fromHex("33010236");
        QTest::newRow("SUM again")
            << sumFrame << "S" << sumFrame << QByteArray::fromHex("33010236");
        QTest::newRow("BCC") << "0x01 0x02"
                             << "B" << bccFrame << QByteArray::fromHex("09010230410D");
        QTest::newRow("BCC again")
            << bccFrame << "B" << bccFrame << QByteArray::fromHex("09010230410D");
        QTest::newRow("SUM on the BCC frame") << bccFrame << "S"
                                              << "0x33 0x09 0x01 0x02 \"0A\" 0x0D 0xBD"
                                              << QByteArray::fromHex(
                                                     "33090102"
                                                     "30410DBD");
        QTest::newRow("BCC on the SUM frame") << sumFrame << "B"
                                              << "0x09 0x33 0x01 0x02 0x36 \"0F\" 0x0D"
                                              << QByteArray::fromHex(
                                                     "0933010236"
                                                     "30460D");
        QTest::newRow("SUM, trailing space") << "0x01 0x02 "
                                             << "S" << sumFrame << QByteArray::fromHex("33010236");
        QTest::newRow("BCC, trailing space")
            << "0x01 0x02 "
            << "B" << bccFrame << QByteArray::fromHex("09010230410D");
        QTest::newRow("SUM, SUM, SUM") << "0x01 0x02"
                                       << "SSS" << sumFrame << QByteArray::fromHex("33010236");
        QTest::newRow("BCC, BCC, BCC") << "0x01 0x02"
                                       << "BBB" << bccFrame << QByteArray::fromHex("09010230410D");
        QTest::newRow("SUM empty") << ""
                                   << "S"
                                   << "0x33 0x33" << QByteArray::fromHex("3333");
        QTest::newRow("SUM empty twice") << ""
                                         << "SS"
                                         << "0x33 0x33" << QByteArray::fromHex("3333");
        QTest::newRow("BCC empty") << ""
                                   << "B"
                                   << "0x09 \"09\" 0x0D" << QByteArray::fromHex("0930390D");
        QTest::newRow("BCC empty twice") << ""
                                         << "BB"
                                         << "0x09 \"09\" 0x0D" << QByteArray::fromHex("0930390D");
        // A line that starts with the start byte but ends in no check value
        // over it keeps every token; the start byte is not doubled.
        QTest::newRow("user line beginning with 0x33")
            << "0x33 0x44 0x55 0x66"
            << "S"
            << "0x33 0x44 0x55 0x66 0x32" << QByteArray::fromHex("3344556632");
        QTest::newRow("SUM frame with a wrong sum")
            << "0x33 0x01 0x02 0x99"
            << "SS"
            << "0x33 0x01 0x02 0x99 0xCF" << QByteArray::fromHex("33010299CF");
        QTest::newRow("a token beginning with 0x33")
            << "0x3312"
            << "S"
            << "0x33 0x3312 0x72" << QByteArray::fromHex("33330C72");
        QTest::newRow("user line beginning with 0x09") << "0x09 0x41 0x42"
                                                       << "B"
                                                       << "0x09 0x41 0x42 \"0A\" 0x0D"
                                                       << QByteArray::fromHex(
                                                              "094142"
                                                              "30410D");
        QTest::newRow("BCC frame with a wrong BCC") << "0x09 0x01 \"FF\" 0x0D"
                                                    << "BB"
                                                    << "0x09 0x01 \"FF\" 0x0D \"05\" 0x0D"
                                                    << QByteArray::fromHex(
                                                           "090146460D"
                                                           "30350D");
        QTest::newRow("SUM quoted and decimal")
            << "\"AB\" 13"
            << "S"
            << "0x33 \"AB\" 13 0xC3" << QByteArray::fromHex("3341420DC3");
        QTest::newRow("BCC quoted and decimal")
            << "\"AB\" 13"
            << "B"
            << "0x09 \"AB\" 13 \"07\" 0x0D" << QByteArray::fromHex("0941420D30370D");
        QTest::newRow("Latin-1 byte in quotes")
            << "\"\u00E9\""
            << "S"
            << "0x33 \"\u00E9\" 0x1C" << QByteArray::fromHex("33E91C");
    }
    void frames() {
        QFETCH(QString, line);
        QFETCH(QString, presses);
        QFETCH(QString, framed);
        QFETCH(QByteArray, bytes);
        test::BoxRecorder boxes;
        w->ComboBox1->setEditText(line);
        for (QChar press : presses) Press(press);
        QCOMPARE(w->ComboBox1->currentText(), framed);
        QCOMPARE(Encoded(framed).toHex(' '), bytes.toHex(' '));
        QVERIFY(boxes.boxes.empty());
    }

    void buttonsOnlyEditTheLine() {
        w->TX1->addItem(QStringLiteral("0x01"));
        w->RadioButton2->setChecked(true);
        w->ComboBox1->setEditText(QStringLiteral("0x05"));
        Press('S');
        Press('B');
        QCOMPARE(w->TX1->count(), 1);
        QVERIFY(w->RadioButton2->isChecked());
        QVERIFY(!w->RadioButton1->isChecked());
        QCOMPARE(w->ComboBox1->count(), 0);  // the drop-down list stays empty
    }

    // A line that does not encode: the default error box, and the line keeps
    // the start-byte prefix without a check value.
    void encodingErrorReachesTheDefaultBox_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QChar>("button");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("message");
        QTest::newRow("SUM") << "12ab" << QChar('S') << "0x33 12ab"
                             << "'12ab' is not a valid integer value.";
        QTest::newRow("BCC") << "0x01 0xg1" << QChar('B') << "0x09 0x01 0xg1"
                             << "'$g1' is not a valid integer value.";
        QTest::newRow("SUM unclosed quote")
            << "\"AB" << QChar('S') << "0x33 \"AB"
            << "The double quote at position 6 of the command line is not closed.";
    }
    void encodingErrorReachesTheDefaultBox() {
        QFETCH(QString, line);
        QFETCH(QChar, button);
        QFETCH(QString, left);
        QFETCH(QString, message);
        test::BoxRecorder boxes;
        w->ComboBox1->setEditText(line);
        Press(button);
        QCOMPARE(w->ComboBox1->currentText(), left);
        QCOMPARE(boxes.boxes.size(), 1u);
        const MessageBoxRequest& box = boxes.boxes.front();
        QCOMPARE(QString::fromStdString(box.text), message);
        QCOMPARE(box.caption, std::string("Tarvik 2"));
        QCOMPARE(box.icon, MessageIcon::Error);
        QVERIFY(box.hasOwner);
        // The window goes on: the next press works on the prefixed line.
        boxes.boxes.clear();
        w->ComboBox1->setEditText(left.left(5) + QStringLiteral("0x01 0x02"));
        Press(button);
        QVERIFY(boxes.boxes.empty());
    }

    // A line far beyond a line edit's usual 32767 characters, pasted with
    // Ctrl+V, is framed whole, or refused whole with the codec's message.
    void longLineIsFramedWholeOrRefused_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QChar>("button");
        QTest::addColumn<QString>("framed");
        QTest::addColumn<QString>("message");
        const QString wide = "0x01" + QString(40000, ' ') + "0x02";
        QTest::newRow("SUM") << wide << QChar('S') << "0x33 " + wide + " 0x36"
                             << "";
        QTest::newRow("BCC") << wide << QChar('B') << "0x09 " + wide + " \"0A\" 0x0D"
                             << "";
        const QString many = QStringLiteral("1 ").repeated(300) + QString(40000, ' ') + "2";
        QTest::newRow("too many tokens")
            << many << QChar('S') << "0x33 " + many << "The command line has more than 256 tokens.";
    }
    void longLineIsFramedWholeOrRefused() {
        QFETCH(QString, body);
        QFETCH(QChar, button);
        QFETCH(QString, framed);
        QFETCH(QString, message);
        test::BoxRecorder boxes;
        QApplication::clipboard()->setText(body);
        QLineEdit* line = w->ComboBox1->lineEdit();
        line->setFocus();
        QTest::keyClick(line, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(line->text().size(), body.size());
        Press(button);
        QCOMPARE(w->ComboBox1->currentText().size(), framed.size());
        QVERIFY(w->ComboBox1->currentText() == framed);
        QCOMPARE(boxes.boxes.size(), std::size_t(message.isEmpty() ? 0 : 1));
        if (!message.isEmpty())
            QCOMPARE(QString::fromStdString(boxes.boxes.front().text), message);
    }

    // The box shows the whole error text; a NUL in it shows as a space, as
    // in the command line.
    void nulInAnErrorTextShowsInTheBox() {
        const auto previous = SetMessageBoxFunction(nullptr);
        InstallQtMessageBox();
        QString shown;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        poll.start(10);
        w->ComboBox1->setEditText(QStringLiteral("1") + QChar(0) + QStringLiteral("2"));
        Press('S');
        SetMessageBoxFunction(previous);
        QCOMPARE(shown, QStringLiteral("'1 2' is not a valid integer value."));
    }

    void pressAgainAfterAFailureKeepsThePrefixAsTheStartByte() {
        test::BoxRecorder boxes;
        w->ComboBox1->setEditText(QStringLiteral("12ab 0x01 0x02 0x03"));
        Press('S');
        QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("0x33 12ab 0x01 0x02 0x03"));
        // Corrected body: the prefix is the start byte, and the last token,
        // no sum over the rest, stays.
        w->ComboBox1->setEditText(QStringLiteral("0x33 0x12 0x01 0x02 0x03"));
        Press('S');
        QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("0x33 0x12 0x01 0x02 0x03 0x4B"));
    }

    void characterWithoutByteIsRefused_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("euro") << "\"a\u20AC\""
                              << "The character \"\u20AC\" (U+20AC) at position 3 has no byte "
                                 "value; only the characters U+0000 to U+00FF can be used.";
        QTest::newRow("outside the BMP")
            << "0x01 \U0001F600"
            << "The character \"\U0001F600\" (U+1F600) at position 6 has no byte value; only "
               "the characters U+0000 to U+00FF can be used.";
    }
    void characterWithoutByteIsRefused() {
        QFETCH(QString, line);
        QFETCH(QString, message);
        for (QChar button : {QChar('S'), QChar('B')}) {
            test::BoxRecorder boxes;
            w->ComboBox1->setEditText(line);
            Press(button);
            QCOMPARE(w->ComboBox1->currentText(), line);  // untouched
            QCOMPARE(boxes.boxes.size(), 1u);
            QCOMPARE(QString::fromStdString(boxes.boxes.front().text), message);
        }
    }

    void fullStopRule_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Port busy"
                                << "Port busy.";
        QTest::newRow("full stop") << "Port busy."
                                   << "Port busy.";
        QTest::newRow("quote sorts before") << "'x'"
                                            << "'x'";
        QTest::newRow("closing parenthesis") << "code (5)"
                                             << "code (5)";
        QTest::newRow("digit sorts after") << "code 5"
                                           << "code 5.";
        QTest::newRow("question mark") << "why?"
                                       << "why?.";
        QTest::newRow("slash sorts after") << "a/"
                                           << "a/.";
        QTest::newRow("comma sorts before") << "a,"
                                            << "a,";
        QTest::newRow("non-ASCII last") << "Gr\u00F6\u00DFe"
                                        << "Gr\u00F6\u00DFe.";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fullStopRule() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(WithFullStop(text.toStdString())), shown);
    }

    // Any handler reached through an event ends in the default box, and the
    // message loop goes on.
    void timerHandlerErrorReachesTheDefaultBox() {
        test::BoxRecorder boxes;
        QTimer::singleShot(0, w.get(), [] { throw std::runtime_error("Timer failed"); });
        QTRY_COMPARE(boxes.boxes.size(), 1u);
        QCOMPARE(boxes.boxes.front().text, std::string("Timer failed."));
        QCOMPARE(boxes.boxes.front().caption, std::string("Tarvik 2"));
        bool ranAfter = false;
        QTimer::singleShot(0, w.get(), [&ranAfter] { ranAfter = true; });
        QTRY_VERIFY(ranAfter);
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::ChecksumTest)
#include "checksum_test.moc"
