// The command line as a terminal user drives it, on the real window over a
// pty: its context menu opened by right click or the menu key and its items
// chosen by mouse, Enter in the line, a double click on a history line.

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>
#include <memory>

#include "app/frmmain.h"
#include "app_test.h"
#include "codec/check_value.h"
#include "line_fixtures.h"
#include "serial/port/com_port.h"

namespace tarvik {

class CommandLineTest : public QObject {
    Q_OBJECT

  private:
    static inline QtMessageHandler previousHandler = nullptr;
    std::unique_ptr<test::BoxRecorder> boxes;
    std::unique_ptr<test::PtyPair> line;
    std::unique_ptr<Tfrmmain> w;

    QLineEdit* Edit() const { return w->ComboBox1->lineEdit(); }

    QStringList BoxTexts() const {
        QStringList texts;
        for (const auto& box : boxes->boxes) texts << QString::fromStdString(box.text);
        return texts;
    }

    // Mouse input the way the window system delivers it, to the widget's window.
    static void ClickThroughWindow(QWidget* widget, Qt::MouseButton button, QPoint at,
                                   bool twice = false) {
        QWindow* window = widget->window()->windowHandle();
        const QPoint pos = window->mapFromGlobal(widget->mapToGlobal(at));
        if (twice)
            QTest::mouseDClick(window, button, {}, pos);
        else
            QTest::mouseClick(window, button, {}, pos);
    }

    // The command line's menu, asked for by a right click or the menu key.
    QMenu* OpenMenu(bool byKey) {
        Edit()->setFocus();
        if (!QTest::qWaitFor([&] { return Edit()->hasFocus(); }))
            return nullptr;
        if (byKey) {
            // The window system turns the menu key into a keyboard request,
            // which goes to the focused control: the drop-down, not its field.
            QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                      w->ComboBox1->mapToGlobal(QPoint(1, 1)));
            QCoreApplication::sendEvent(w->windowHandle(), &request);
        } else {
            ClickThroughWindow(Edit(), Qt::RightButton, Edit()->rect().center());
        }
        QMenu* menu = nullptr;
        return QTest::qWaitFor([&] {
            menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            return menu != nullptr;
        })
                   ? menu
                   : nullptr;
    }

    // Clicks the item of that name, in the menu or its "Append check value" list.
    static bool Choose(QMenu* menu, const QString& name) {
        auto* append = menu->findChild<QMenu*>(QStringLiteral("AppendCheckValue"));
        QMenu* owner = menu;
        if (append != nullptr && append->findChild<QAction*>(name) != nullptr) {
            ClickThroughWindow(menu, Qt::LeftButton,
                               menu->actionGeometry(append->menuAction()).center());
            if (!QTest::qWaitFor([&] { return append->isVisible(); }))
                return false;
            owner = append;
        }
        QAction* item = owner->findChild<QAction*>(name);
        if (item == nullptr)
            return false;
        ClickThroughWindow(owner, Qt::LeftButton, owner->actionGeometry(item).center());
        return QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; });
    }

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
    void initTestCase() {
        // Menus on the offscreen platform cannot grab the keyboard; it says so at every opening.
        previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.startsWith(QStringLiteral("This plugin does not support")))
                    previousHandler(type, context, message);
            });
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init() {
        boxes = std::make_unique<test::BoxRecorder>();
        line = std::make_unique<test::PtyPair>();
    }
    void cleanup() {
        w.reset();
        line.reset();
        boxes.reset();
    }

    // Below the line edit's own items: every check value, then the conversions.
    void menuItems() {
        Build(false);
        QMenu* menu = OpenMenu(false);
        QVERIFY(menu != nullptr);
        const QList<QAction*> items = menu->actions();
        QVERIFY(items.size() > 5);
        QVERIFY(items.at(0)->text().startsWith(
            QStringLiteral("&Undo")));  // the field's own items first
        QStringList ours;
        // The window's file transfer items (a separator and two) come last.
        for (QAction* item : items.mid(items.size() - 7, 4)) ours << item->text();
        QCOMPARE(ours,
                 QStringList({"", "Append check value", "Text to notation", "Hex to notation"}));
        QStringList captions;
        for (QAction* item : items.at(items.size() - 6)->menu()->actions())
            captions << item->text();
        QCOMPARE(captions.size(), int(fun::CheckValues().size()));
        QCOMPARE(captions.at(0), QStringLiteral("SUM (8-bit sum)"));
        QVERIFY(captions.contains(QStringLiteral("CRC-16/MODBUS (low byte first)")));
        QVERIFY(captions.contains(QStringLiteral("CRC-32/ISO-HDLC (CRC-32, low byte first)")));
        QTest::keyClick(menu, Qt::Key_Escape);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    }

    // Each row: the line, the item chosen, the line afterwards (the same for
    // a refused line) and the message shown.
    void menuRewritesTheLine_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("message");
        const QString request = "0x01 0x03 0x00 0x00 0x00 0x0A", crc = request + " 0xC5 0xCD";
        const QString nmea = "\"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\"";
        const QString text = "ab\\q";
        const QString refusedText =
            "The escape \\q at position 3 is none of \\r \\n \\t \\\\ \\\" \\xHH.";
        const struct {
            const char* name;
            QString before, item, after, message;
        } rows[] = {
            {"append", request, "CRC-16/MODBUS", crc, ""},
            {"re-append", crc, "CRC-16/MODBUS", crc, ""},
            {"append text", nmea, "NMEA 0183", nmea + " \"*47\"", ""},
            {"text", "AT\\r\\n", "TextToNotation", "\"AT\" 0x0D 0x0A", ""},
            {"hex", "01:03:00:0A", "HexToNotation", "0x01 0x03 0x00 0x0A", ""},
            {"hex refused", "01 0g", "HexToNotation", "01 0g",
             "The character \"g\" at position 5 is no hexadecimal digit."},
            {"text refused", text, "TextToNotation", text, refusedText},
            {"append refused", "12ab", "CRC-32/ISO-HDLC", "12ab",
             "'12ab' is not a valid integer value."},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.before << r.item << r.after << r.message;
    }
    void menuRewritesTheLine() {
        QFETCH(QString, before);
        QFETCH(QString, item);
        QFETCH(QString, after);
        QFETCH(QString, message);
        Build(false);
        for (bool byKey : {false, true}) {
            boxes->boxes.clear();
            w->ComboBox1->setEditText(before);
            QMenu* menu = OpenMenu(byKey);
            QVERIFY(menu != nullptr);
            QVERIFY(Choose(menu, item));
            QCOMPARE(Edit()->text(), after);
            QCOMPARE(BoxTexts(), message.isEmpty() ? QStringList() : QStringList{message});
            QTest::keyClick(w->windowHandle(), Qt::Key_Z, Qt::ControlModifier);  // one step back
            QCOMPARE(Edit()->text(), before);
        }
    }

    // Enter in the command line and a double click on a history line run
    // Send's handler; with the port closed it says so.
    void enterAndDoubleClickSend_data() {
        QTest::addColumn<bool>("enter");
        QTest::addColumn<bool>("open");
        QTest::newRow("Enter") << true << true;
        QTest::newRow("Enter, closed") << true << false;
        QTest::newRow("double click") << false << true;
        QTest::newRow("double click, closed") << false << false;
    }
    void enterAndDoubleClickSend() {
        QFETCH(bool, enter);
        QFETCH(bool, open);
        Build(open);
        w->TX1->addItems({"0x41", "0x42"});
        w->ComboBox1->setEditText(QStringLiteral("0x43"));
        if (enter) {
            Edit()->setFocus();
            QTRY_VERIFY(Edit()->hasFocus());
            Edit()->end(false);
            for (QChar c : QStringLiteral(" 0x44"))
                QTest::keyClick(w->windowHandle(), c.toLatin1());
            QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        } else {
            ClickThroughWindow(w->TX1->viewport(), Qt::LeftButton,
                               w->TX1->visualRowRect(1).center(), true);
        }
        if (!open) {
            QTRY_COMPARE(BoxTexts(), QStringList{"Not Connected"});
            QCOMPARE(w->TX1->count(), 2);
            return;
        }
        QCOMPARE(line->Read(enter ? 2 : 1), std::string(enter ? "CD" : "B"));
        QVERIFY(boxes->boxes.empty());
        QCOMPARE(w->RadioButton1->isChecked(), enter);
        QCOMPARE(w->TX1->count(), enter ? 3 : 2);
        QCOMPARE(w->TX1->text(0), enter ? QStringLiteral("0x43 0x44") : QStringLiteral("0x41"));
        if (!enter)
            QCOMPARE(w->TX1->selectedRows(), QList<int>{1});
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::CommandLineTest)
#include "command_line_test.moc"
