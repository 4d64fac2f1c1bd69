// The window's text maps to bytes as Latin-1, and refuses what has no byte.

#include "app/latin1_text.h"

#include "app_test.h"

namespace tarvik {

class Latin1TextTest : public QObject {
    Q_OBJECT

  private slots:
    void everyByteRoundTrips() {
        Text all;
        for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
        const QString text = FromText(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text.at(0xE9), QChar(0xE9));
        QCOMPARE(ToText(text), all);
    }

    void characterAboveLatin1IsNamed_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("euro first") << "\u20AC"
                                    << "The character \"\u20AC\" (U+20AC) at position 1 has no "
                                       "byte value; only the characters U+0000 to U+00FF can "
                                       "be used";
        QTest::newRow("after a surrogate pair")
            << "\U0001F600a\u0100"
            << "The character \"\U0001F600\" (U+1F600) at position 1 has no byte value; only the "
               "characters U+0000 to U+00FF can be used";
        QTest::newRow("A with macron") << "ab\u0100"
                                       << "The character \"\u0100\" (U+0100) at position 3 has "
                                          "no byte value; only the characters U+0000 to U+00FF "
                                          "can be used";
    }
    void characterAboveLatin1IsNamed() {
        QFETCH(QString, text);
        QFETCH(QString, message);
        try {
            ToText(text);
            QFAIL("no error");
        } catch (const ENoByteForCharacter& error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::Latin1TextTest)
#include "latin1_text_test.moc"
