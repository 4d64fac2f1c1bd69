// A port error raised by a user's choice reaches the application's notify
// from the event loop, after the change path has returned.

#include <QSignalSpy>
#include <QTest>

#include "selector_test_support.h"

using namespace selectortest;

class ComComboBoxErrorTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { App()->errors.clear(); }

    // The reopen fails: the error leaves the change path for the
    // application's handler, the choice stays, Changed is not raised.
    void portErrorReachesTheApplication_data() {
        QTest::addColumn<bool>("byMouse");
        QTest::newRow("keyboard") << false;
        QTest::newRow("list click") << true;
    }

    void portErrorReachesTheApplication() {
        QFETCH(bool, byMouse);
        CountingPort port;
        port.OpenQuietly();
        port.failOpen = true;
        auto box = MakeBox(cport::cpPort, &port);
        QSignalSpy changed(box.get(), &TComComboBox::Changed);
        if (byMouse)
            UserClicks(*box, 3);
        else
            UserPicks(*box, 3);
        QTRY_COMPARE(App()->errors.size(), std::size_t(1));
        QCOMPARE(App()->errors[0].first, int(cport::ecOpen));
        QCOMPARE(box->Text(), tarvik::Text("ttyUSB0"));
        QCOMPARE(box->Selection().RememberedPort(), tarvik::Text("ttyUSB0"));
        QCOMPARE(port.Port(), tarvik::Text("ttyUSB0"));
        QVERIFY(!port.Connected());
        QCOMPARE(changed.count(), 0);
    }
};

int main(int argc, char** argv) {
    TestApplication app(argc, argv);
    ComComboBoxErrorTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "com_combo_box_error_test.moc"
