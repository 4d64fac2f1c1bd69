// The port property selectors in a real QApplication on the offscreen
// platform: item lists, linking, selection rules and the user's choices.

#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "selector_test_support.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"

using namespace selectortest;

class ComComboBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { App()->errors.clear(); }

    void itemLists_data() {
        QTest::addColumn<int>("property");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("none") << int(cport::cpNone) << QStringList{};
        QTest::newRow("port") << int(cport::cpPort)
                              << QStringList{"COM1", "COM10", "COM2", "ttyUSB0"};
        QTest::newRow("baud") << int(cport::cpBaudRate)
                              << QStringList{"Custom", "110",    "300",    "600",
                                             "1200",   "2400",   "4800",   "9600",
                                             "14400",  "19200",  "38400",  "56000",
                                             "57600",  "115200", "128000", "256000"};
        QTest::newRow("data bits") << int(cport::cpDataBits) << QStringList{"5", "6", "7", "8"};
        QTest::newRow("stop bits") << int(cport::cpStopBits) << QStringList{"1", "1.5", "2"};
        QTest::newRow("parity") << int(cport::cpParity)
                                << QStringList{"None", "Odd", "Even", "Mark", "Space"};
        QTest::newRow("flow") << int(cport::cpFlowControl)
                              << QStringList{"Hardware", "Software", "None", "Custom"};
        QTest::newRow("out of range") << 7 << QStringList{};
    }

    // Without a port, writing ComProperty selects item 0 of a non-empty list.
    void itemLists() {
        QFETCH(int, property);
        QFETCH(QStringList, items);
        auto box = MakeBox(cport::TComProperty(property), nullptr);
        QCOMPARE(Items(*box), items);
        QCOMPARE(box->currentIndex(), items.isEmpty() ? -1 : 0);
        QCOMPARE(QString::fromStdString(box->Text()), items.value(0));
        QCOMPARE(box->maxVisibleItems(), 8);
        QVERIFY(!box->isEditable());
    }

    // Names given beside the system's (a pty on the command line) join the
    // list in order, once each.
    void extraPortNamesJoinTheList() {
        TComComboBox box;
        box.SetPortLister([](Names& ports) { ports = kSystemPorts; });
        box.SetExtraPortNames({"/dev/pts/3", "COM1", "com5", "", "com5"});
        box.SetComProperty(cport::cpPort);
        QCOMPARE(Items(box),
                 (QStringList{"/dev/pts/3", "COM1", "COM10", "COM2", "com5", "ttyUSB0"}));
    }

    void linkingSelectsThePortsValue_data() {
        QTest::addColumn<int>("property");
        QTest::addColumn<QString>("portName");
        QTest::addColumn<int>("baudRate");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("remembered");
        QTest::newRow("listed name") << int(cport::cpPort) << "COM2" << 0 << 2 << "COM2";
        QTest::newRow("name in other case")
            << int(cport::cpPort) << "ttyusb0" << 0 << 3 << "ttyUSB0";
        QTest::newRow("name not listed") << int(cport::cpPort) << "ttyS7" << 0 << -1 << "";
        QTest::newRow("baud 19200")
            << int(cport::cpBaudRate) << "" << int(cport::br19200) << 9 << "";
        QTest::newRow("custom baud")
            << int(cport::cpBaudRate) << "" << int(cport::brCustom) << 0 << "";
    }

    void linkingSelectsThePortsValue() {
        QFETCH(int, property);
        QFETCH(QString, portName);
        QFETCH(int, baudRate);
        QFETCH(int, index);
        QFETCH(QString, remembered);
        CountingPort port;
        port.SetPort(portName.toStdString());
        port.SetBaudRate(cport::TBaudRate(baudRate));
        port.OpenQuietly();
        auto box = MakeBox(cport::TComProperty(property), &port);
        QCOMPARE(box->currentIndex(), index);
        if (index < 0)
            QCOMPARE(box->Text(), tarvik::Text());
        if (property == int(cport::cpPort))
            QCOMPARE(QString::fromStdString(box->Selection().RememberedPort()), remembered);
        else
            QCOMPARE(int(box->Selection().RememberedBaudRate()), baudRate);
        // Looking at the port writes nothing into it.
        QCOMPARE(port.calls, Calls{});
        QCOMPARE(QString::fromStdString(port.Port()), portName);
    }

    // The window builds each selector in its stored order and links the port last.
    void windowDescriptionOrder() {
        CountingPort port;
        port.SetBaudRate(cport::br38400);
        port.Parity().SetBits(cport::prEven);
        port.SetPort("ttyS9");

        TComComboBox baud, parity, name;
        name.SetPortLister([](Names& ports) { ports = kSystemPorts; });
        struct Step {
            TComComboBox* box;
            cport::TComProperty property;
            const char* storedText;
            int storedIndex;
            int linkedIndex;
        };
        const Step steps[] = {{&baud, cport::cpBaudRate, "19200", 9, 10},
                              {&parity, cport::cpParity, "Even", 2, 2},
                              {&name, cport::cpPort, "COM1", 0, -1}};
        for (const auto& step : steps) {
            step.box->SetComProperty(step.property);
            QCOMPARE(step.box->currentIndex(), 0);
            step.box->SetAutoApply(true);
            step.box->SetText(step.storedText);
            QCOMPARE(step.box->currentIndex(), step.storedIndex);
        }
        for (const auto& step : steps) {
            step.box->SetComPort(&port);
            QCOMPARE(step.box->currentIndex(), step.linkedIndex);
        }
        QCOMPARE(port.BaudRate(), cport::br38400);
        QCOMPARE(port.Port(), tarvik::Text("ttyS9"));
    }

    void textSelectsWithoutRegardToCase() {
        auto box = MakeBox(cport::cpParity, nullptr);
        box->SetText("mark");
        QCOMPARE(box->Text(), tarvik::Text("Mark"));
        box->SetText("Sideways");  // not listed: nothing changes
        QCOMPARE(box->Text(), tarvik::Text("Mark"));
        box->SetText("");
        QCOMPARE(box->currentIndex(), 3);
    }

    // Selecting from code never writes the port.
    void selectionFromCodeWritesNothing() {
        CountingPort port;
        port.OpenQuietly();
        auto box = MakeBox(cport::cpBaudRate, &port);
        QSignalSpy changed(box.get(), &TComComboBox::Changed);
        box->setCurrentIndex(3);
        box->SetText("57600");
        box->SetComProperty(cport::cpBaudRate);
        QCOMPARE(port.calls, Calls{});
        QCOMPARE(port.BaudRate(), cport::br9600);
        QCOMPARE(changed.count(), 0);
    }

    // A baud rate chosen on an open port reaches the device once; on a
    // closed port it is only stored.
    void userChoiceWritesThePort() {
        for (const bool open : {true, false}) {
            CountingPort port;
            if (open)
                port.OpenQuietly();
            auto box = MakeBox(cport::cpBaudRate, &port);
            QSignalSpy changed(box.get(), &TComComboBox::Changed);
            UserPicks(*box, 13);
            QCOMPARE(port.BaudRate(), cport::br115200);
            QCOMPARE(port.calls, open ? Calls{"dcb"} : Calls{});
            QCOMPARE(changed.count(), 1);
        }
    }

    // A new name on an open port closes it and opens it under that name.
    void userChoiceOfPortReopens() {
        CountingPort port;
        port.OpenQuietly();
        auto box = MakeBox(cport::cpPort, &port);
        UserPicks(*box, 2);
        QCOMPARE(port.Port(), tarvik::Text("COM2"));
        QCOMPARE(port.calls, (Calls{"close", "open COM2"}));
        QVERIFY(port.Connected());
    }

    // The current value chosen again is still written; the flow-control
    // setter re-applies even an unchanged preset.
    void choosingTheCurrentItemStillWrites() {
        CountingPort port;
        port.FlowControl().SetFlowControl(cport::fcNone);
        port.OpenQuietly();
        auto box = MakeBox(cport::cpFlowControl, &port);
        QCOMPARE(box->Text(), tarvik::Text("None"));
        UserClicks(*box, 2);
        QCOMPARE(port.calls, Calls{"dcb"});
        QVERIFY(App()->errors.empty());
    }

    void autoApplyOffOnlyRemembers() {
        CountingPort port;
        port.OpenQuietly();
        auto box = MakeBox(cport::cpParity, &port, false);
        UserPicks(*box, 4);
        QCOMPARE(box->Selection().RememberedParity(), cport::prSpace);
        QCOMPARE(port.Parity().Bits(), cport::prNone);
        QCOMPARE(port.calls, Calls{});
    }

    void enumerationErrorLeavesTheListEmpty() {
        CountingPort port;
        TComComboBox box;
        box.SetPortLister([](Names&) { throw cport::EComPort(cport::ecRegistry, 2); });
        box.SetComProperty(cport::cpBaudRate);
        box.SetComPort(&port);
        try {
            box.SetComProperty(cport::cpPort);
            QFAIL("no error");
        } catch (const cport::EComPort& e) {
            QCOMPARE(e.ErrorCode(), int(cport::ecRegistry));
            QCOMPARE(e.WinErrorCode(), 2);
        }
        QCOMPARE(box.count(), 0);
        QCOMPARE(box.ComProperty(), cport::cpPort);
        QCOMPARE(box.Text(), tarvik::Text());
    }

    // Destroying the linked port clears the link and selects item 0; later
    // choices are only remembered.
    void destroyingThePortClearsTheLink() {
        auto port = std::make_unique<CountingPort>();
        port->SetBaudRate(cport::br57600);
        auto box = MakeBox(cport::cpBaudRate, port.get());
        QCOMPARE(box->currentIndex(), 12);
        port.reset();
        QCOMPARE(box->ComPort(), nullptr);
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(box->count(), 16);
        UserPicks(*box, 5);
        QCOMPARE(box->Selection().RememberedBaudRate(), cport::br2400);
        QVERIFY(App()->errors.empty());
    }

    // A port that was linked before does not reach the selector any more.
    void destroyingAFormerPortChangesNothing() {
        auto first = std::make_unique<CountingPort>();
        CountingPort second;
        second.SetBaudRate(cport::br4800);
        auto box = MakeBox(cport::cpBaudRate, first.get());
        box->SetComPort(&second);
        first.reset();
        QCOMPARE(box->ComPort(), &second);
        QCOMPARE(box->currentIndex(), 6);
    }

    // Every ownership order destroys cleanly: the selector alone, then its
    // port; a selector owning its port; a window owning both, the port made
    // before or after the selector.
    void destroyingInAnyOwnershipOrder_data() {
        QTest::addColumn<QString>("order");
        for (const char* order : {"selector first", "selector owns port", "window, port first",
                                  "window, selector first"})
            QTest::newRow(order) << QString::fromLatin1(order);
    }
    void destroyingInAnyOwnershipOrder() {
        QFETCH(QString, order);
        if (order == "selector first") {
            auto port = std::make_unique<CountingPort>();
            auto box = MakeBox(cport::cpBaudRate, port.get());
            box.reset();
            port.reset();
        } else if (order == "selector owns port") {
            auto box = MakeBox(cport::cpBaudRate, nullptr);
            box->SetComPort(new CountingPort(box.get()));
            box.reset();
        } else {
            auto window = std::make_unique<QWidget>();
            CountingPort* port =
                order == "window, port first" ? new CountingPort(window.get()) : nullptr;
            auto* box = MakeBox(cport::cpBaudRate, port).release();
            box->setParent(window.get());
            box->SetComPort(port != nullptr ? port : new CountingPort(window.get()));
            window.reset();
        }
        QVERIFY(App()->errors.empty());
    }

    void relinkingTheSamePortDoesNotReselect() {
        CountingPort port;
        auto box = MakeBox(cport::cpBaudRate, &port);
        QCOMPARE(box->currentIndex(), 7);
        box->setCurrentIndex(2);
        box->SetComPort(&port);
        QCOMPARE(box->currentIndex(), 2);
    }

    void linkingNullKeepsListAndSelection() {
        CountingPort port;
        auto box = MakeBox(cport::cpParity, &port);
        box->setCurrentIndex(4);
        box->SetComPort(nullptr);
        QCOMPARE(box->ComPort(), nullptr);
        QCOMPARE(box->count(), 5);
        QCOMPARE(box->currentIndex(), 4);
        UserPicks(*box, 1);
        QCOMPARE(port.Parity().Bits(), cport::prNone);
        QCOMPARE(port.calls, Calls{});
    }

    // Later changes of the port's settings do not move the selection.
    void laterPortChangesDoNotMoveTheSelection() {
        CountingPort port;
        auto box = MakeBox(cport::cpStopBits, &port);
        QCOMPARE(box->currentIndex(), 0);
        port.SetStopBits(cport::sbTwoStopBits);
        QCOMPARE(box->currentIndex(), 0);
        box->SetComProperty(cport::cpStopBits);
        QCOMPARE(box->currentIndex(), 2);
    }
};

int main(int argc, char** argv) {
    TestApplication app(argc, argv);
    ComComboBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "com_combo_box_test.moc"
