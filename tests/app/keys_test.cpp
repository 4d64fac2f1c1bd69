// The window's keyboard on the offscreen platform, with real key events over
// a pty: every Alt accelerator with its control enabled and disabled, Esc
// while a list or menu is open, and Tab into the command-source buttons.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWindow>
#include <memory>

#include "app/frmmain.h"
#include "app/popup_menu.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "serial/port/com_port.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

class KeysTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<test::PtyPair> line;
    std::unique_ptr<Tfrmmain> w;

    void Build(bool open) {
        w = std::make_unique<Tfrmmain>(nullptr, line->Path());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        if (open) {
            QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
            QVERIFY(w->C1->Connected());
        }
    }

  private slots:
    void init() {
        recorder = std::make_unique<test::BoxRecorder>();
        line = std::make_unique<test::PtyPair>();
    }
    void cleanup() {
        w.reset();
        line.reset();
        recorder.reset();
    }

    // Alt and the letter presses an enabled control; a disabled one's letter
    // does nothing, and never reaches the focused control as text.
    void accelerators_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<char>("letter");
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("acts");
        QTest::addColumn<QString>("text");  // the focused box's text afterwards
        struct Row {
            const char* name;
            bool open;
            const char* focus;
            char letter;
            const char* control;
            bool acts;
            const char* text;
        };
        const Row rows[] = {
            {"Start, closed", false, "ComboBox1", 's', "BitBtn2", true, "0x4"},
            {"Start, open", true, "ComboBox1", 's', "BitBtn2", false, "0x4"},
            {"Stop, closed", false, "ComboBox1", 'p', "BitBtn3", false, "0x4"},
            {"Stop, open", true, "ComboBox1", 'p', "BitBtn3", true, "0x4"},
            {"Send, closed", false, "ComboBox1", 'e', "BitBtn1", false, "0x4"},
            {"Send, open", true, "ComboBox1", 'e', "BitBtn1", true, "0x4"},
            {"SUM", false, "ComboBox1", 'm', "BitBtn4", true, "0x33 0x4 0x37"},
            {"BCC", true, "ComboBox1", 'b', "BitBtn5", true, "0x09 0x4 \"0D\" 0x0D"},
            {"Cal", false, "ComboBox1", 'c', "BitBtn6", true, "0x4"},
            {"Notepad", true, "ComboBox1", 'n', "BitBtn7", true, "0x4"},
            {"Clear all", false, "ComboBox1", 'a', "BitBtn8", true, "0x4"},
            {"timer box", true, "ComboBox1", 't', "CheckBox1", true, "0x4"},
            {"ASCII box", false, "ComboBox1", 'i', "CheckBox2", true, "0x4"},
            {"page Rx 2", false, "ComboBox1", '2', "TabSheet2", true, "0x4"},
            {"page Rx 4", true, "ComboBox1", '4', "TabSheet4", true, "0x4"},
            // A list searches its items by the typed letter: "Space".
            {"Start, open, on the parity list", true, "ComComboBox3", 's', "BitBtn2", false,
             "Even"},
            {"Stop, closed, on the parity list", false, "ComComboBox3", 'p', "BitBtn3", false,
             "Even"},
        };
        for (const Row& r : rows) {
            QTest::newRow(r.name) << r.open << QString(r.focus) << r.letter << QString(r.control)
                                  << r.acts << QString(r.text);
        }
    }
    void accelerators() {
        QFETCH(bool, open);
        QFETCH(QString, focus);
        QFETCH(char, letter);
        QFETCH(QString, control);
        QFETCH(bool, acts);
        QFETCH(QString, text);
        // Cal and Notepad find nothing to start.
        QTemporaryDir emptyDir;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", emptyDir.path().toLocal8Bit());
        Build(open);
        w->ComboBox1->setEditText(QStringLiteral("0x4"));
        auto* box = w->findChild<QComboBox*>(focus);
        box->setFocus();
        QCOMPARE(QApplication::focusWidget()->window(), w.get());

        int actions = 0;
        auto* button = w->findChild<QAbstractButton*>(control);
        if (button != nullptr) {
            QCOMPARE(button->isEnabled(), acts);
            connect(button, &QAbstractButton::clicked, this, [&actions] { ++actions; });
        } else {
            connect(w->PageControl1, &QTabWidget::currentChanged, this, [&actions] { ++actions; });
        }
        QTest::keyClick(QApplication::focusWidget(), letter, Qt::AltModifier);
        if (acts) {
            QTRY_COMPARE(actions, 1);
        } else {
            QVERIFY(!button->isDown());  // an accelerator presses its button at once
            QCOMPARE(actions, 0);
        }
        QCOMPARE(box->currentText(), text);
        if (button == nullptr)
            QCOMPARE(w->PageControl1->currentWidget()->objectName(), control);
        qputenv("PATH", path);

        // What the line carries after the key: the command as typed.
        if (!w->C1->Connected())
            QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        w->ComboBox1->setCurrentText(QStringLiteral("0x4"));
        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QCOMPARE(line->Read(1), std::string("\x04"));
        QVERIFY(recorder->boxes.empty());
    }

    // An open list or menu takes its own Esc; only the next one presses Stop.
    void escapeClosesAnOpenPopupFirst_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("port list") << "ComComboBox1";
        QTest::newRow("parity list") << "ComComboBox3";
        QTest::newRow("baud rate list") << "ComComboBox2";
        QTest::newRow("context menu") << "RX1";
    }
    void escapeClosesAnOpenPopupFirst() {
        QFETCH(QString, control);
        Build(true);
        QWidget* popup = nullptr;
        if (auto* box = w->findChild<QComboBox*>(control)) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
            popup = box->view();
        } else {
            auto* list = w->findChild<QAbstractItemView*>(control);
            QWindow* window = w->windowHandle();
            const QPoint at = list->viewport()->mapToGlobal(QPoint(5, 5));
            QTest::mouseClick(window, Qt::RightButton, {}, window->mapFromGlobal(at));
            popup = w->PopupMenu1;
        }
        QTRY_VERIFY(popup->isVisible());
        // Keys go where the window system sends them: to the pop-up's window.
        QTest::keyClick(popup->window()->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!popup->isVisible());
        QVERIFY(w->C1->Connected());
        QVERIFY(w->BitBtn3->isEnabled());

        // The offscreen platform leaves the window inactive after a list's
        // drop-down; a desktop hands the activation back.
        QApplication::setActiveWindow(w.get());
        QCOMPARE(QApplication::activeWindow(), w.get());
        QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
        QVERIFY(!w->C1->Connected());
        QVERIFY(recorder->boxes.empty());
    }

    // The two command-source buttons are one Tab stop, the selected one,
    // however it came to be selected; Tab leaves the group at once.
    void tabReachesTheSelectedSourceButton_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("selected");
        QTest::newRow("at start") << QStringList{} << "RadioButton1";
        QTest::newRow("entering the history") << QStringList{"TX1"} << "RadioButton2";
        QTest::newRow("the history's button, then the command line")
            << QStringList{"RadioButton2", "ComboBox1"} << "RadioButton1";
    }
    void tabReachesTheSelectedSourceButton() {
        QFETCH(QStringList, clicks);
        QFETCH(QString, selected);
        Build(false);
        for (const QString& name : clicks) {
            QTest::mouseClick(w->findChild<QWidget*>(name), Qt::LeftButton, {}, QPoint(5, 5));
        }
        auto* button = w->findChild<QRadioButton*>(selected);
        QVERIFY(button->isChecked());
        for (const auto& [from, modifier] :
             {std::pair{"RX1", Qt::NoModifier}, std::pair{"ComComboBox1", Qt::ShiftModifier}}) {
            w->findChild<QWidget*>(from)->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifier);
            QCOMPARE(QApplication::focusWidget(), button);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifier);
            QVERIFY(qobject_cast<QRadioButton*>(QApplication::focusWidget()) == nullptr);
        }
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::KeysTest)
#include "keys_test.moc"
