// The port controls of the real window on the offscreen platform: C1 as the
// window builds it, the three selectors, Start and Stop over a simulator's
// pty, the button states, the timer box, and the selectors when C1 goes.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "app/frmmain.h"
#include "app/timer.h"
#include "app_test.h"
#include "line_fixtures.h"
#include "serial/error/com_error.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"
#include "serial/device/fake_com_device.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

using cport::device::FakeComDevice;

class PortControlsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::FakeTtyClass> ttys;
    std::unique_ptr<test::BoxRecorder> recorder;
    std::unique_ptr<FakeComDevice> fake;  // outlives the window and its port
    std::unique_ptr<Tfrmmain> w;

    void Build(const Text& portArgument = {}) {
        w = std::make_unique<Tfrmmain>(nullptr, portArgument);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    // Start, Stop and Send: enabled as the table of port states says.
    void CheckButtons(bool open) {
        QCOMPARE(w->BitBtn2->isEnabled(), !open);
        QCOMPARE(w->BitBtn3->isEnabled(), open);
        QCOMPARE(w->BitBtn1->isEnabled(), open);
    }

    // A user's choice: the selector has the focus and the key moves its selection.
    void Choose(cport::TComComboBox* box, Qt::Key key) {
        box->setFocus();
        QTest::keyClick(box, key);
    }

    QStringList Items(const QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }

    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : recorder->boxes) texts.push_back(box.text);
        return texts;
    }

  private slots:
    void init() {
        ttys = std::make_unique<test::FakeTtyClass>(std::vector<std::string>{"ttyUSB0", "ttyS0"});
        recorder = std::make_unique<test::BoxRecorder>();
        fake = std::make_unique<FakeComDevice>();
    }
    void cleanup() {
        w.reset();
        fake.reset();
        recorder.reset();
        ttys.reset();
    }

    void c1AsTheWindowBuildsIt() {
        Build();
        cport::TComPort* c1 = w->C1;
        QVERIFY(c1 != nullptr);
        QCOMPARE(c1->parent(), w.get());
        QVERIFY(!c1->Loading());
        QVERIFY(!c1->Connected());
        QCOMPARE(c1->Port(), Text("ttyS0"));
        QCOMPARE(c1->BaudRate(), cport::br19200);
        QCOMPARE(c1->Parity().Bits(), cport::prEven);
        QCOMPARE(c1->StopBits(), cport::sbOneStopBit);
        QCOMPARE(c1->DataBits(), cport::dbEight);
        QVERIFY(c1->Events() == cport::TComEvents{cport::evRxChar});
        const cport::TComFlowControl& flow = c1->FlowControl();
        QVERIFY(!flow.OutCTSFlow() && !flow.OutDSRFlow());
        QCOMPARE(flow.ControlDTR(), cport::dtrDisable);
        QCOMPARE(flow.ControlRTS(), cport::rtsDisable);
        QVERIFY(!flow.XonXoffOut() && !flow.XonXoffIn());
        QCOMPARE(c1->Timeouts().ReadInterval(), 200);
        QCOMPARE(c1->Timeouts().ReadTotalMultiplier(), 200);
        QCOMPARE(c1->Timeouts().ReadTotalConstant(), 200);
        QVERIFY(static_cast<bool>(c1->OnRxChar()));
        CheckButtons(false);
        QVERIFY(!w->T1->Enabled());
    }

    void selectorsAsTheWindowBuildsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("property");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("port") << "ComComboBox1" << QRect(20, 5, 91, 21) << int(cport::cpPort) << 0
                              << "ttyS0";
        QTest::newRow("parity") << "ComComboBox3" << QRect(115, 5, 76, 21) << int(cport::cpParity)
                                << 2 << "Even";
        QTest::newRow("baud rate")
            << "ComComboBox2" << QRect(195, 5, 76, 21) << int(cport::cpBaudRate) << 9 << "19200";
    }
    void selectorsAsTheWindowBuildsThem() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(int, property);
        QFETCH(int, index);
        QFETCH(QString, text);
        Build();
        auto* box = w->findChild<cport::TComComboBox*>(name);
        QVERIFY(box != nullptr);
        QCOMPARE(box->geometry(), place);
        QCOMPARE(int(box->ComProperty()), property);
        QCOMPARE(box->ComPort(), static_cast<cport::TCustomComPort*>(w->C1));
        QVERIFY(box->AutoApply());
        QVERIFY(!box->isEditable());
        QCOMPARE(box->currentIndex(), index);
        QCOMPARE(box->currentText(), text);
    }

    // The box shows the port Start opens, spelled as the list spells it,
    // whether the system lists that port or not.
    void thePortBoxShowsThePortStartOpens_data() {
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("listed") << QStringList{"ttyUSB0", "ttyS0"}
                                << QStringList{"ttyS0", "ttyUSB0"};
        QTest::newRow("not listed") << QStringList{"ttyUSB0"} << QStringList{"ttyS0", "ttyUSB0"};
        QTest::newRow("no ports") << QStringList{} << QStringList{"ttyS0"};
    }
    void thePortBoxShowsThePortStartOpens() {
        QFETCH(QStringList, system);
        QFETCH(QStringList, items);
        std::vector<std::string> names;
        for (const QString& name : system) names.push_back(name.toStdString());
        ttys.reset();
        ttys = std::make_unique<test::FakeTtyClass>(names);
        Build();
        QCOMPARE(Items(w->ComComboBox1), items);
        QCOMPARE(w->ComComboBox1->currentText().toStdString(), w->C1->Port());
    }

    void portArgumentJoinsTheListAndIsChosen() {
        test::PtyPair line;
        Build(line.Path());
        QCOMPARE(w->C1->Port(), line.Path());
        QCOMPARE(Items(w->ComComboBox1),
                 (QStringList{QString::fromStdString(line.Path()), "ttyS0", "ttyUSB0"}));
        QCOMPARE(w->ComComboBox1->currentText(), QString::fromStdString(line.Path()));
    }

    void selectorsLeadTheTabOrder() {
        Build();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->ComComboBox1->setFocus();
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, (QStringList{"ComComboBox1", "ComComboBox3", "ComComboBox2", "CheckBox1"}));
    }

    void startOpensAndStopCloses() {
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QCOMPARE(BoxTexts(), std::vector<std::string>{});
        QVERIFY(w->C1->Connected());
        QVERIFY(w->C1->Handle() != cport::device::INVALID_HANDLE_VALUE);
        CheckButtons(true);
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(!w->C1->Connected());
        QVERIFY(w->C1->Handle() == cport::device::INVALID_HANDLE_VALUE);
        CheckButtons(false);
        QVERIFY(recorder->boxes.empty());
    }

    void escapePressesStopWhileTheLineIsOpen() {
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(!w->C1->Connected());
        CheckButtons(false);
        QTest::keyClick(w.get(), Qt::Key_Escape);  // Stop disabled: nothing happens
        CheckButtons(false);
        QVERIFY(recorder->boxes.empty());
    }

    void startFailureKeepsTheButtons() {
        Build("/nonexistent/tty-of-nobody");
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QCOMPARE(recorder->boxes.size(), std::size_t(1));
        QCOMPARE(recorder->boxes[0].caption, std::string("Tarvik 2"));
        QVERIFY(recorder->boxes[0].text.starts_with(cport::ErrorMessages(cport::ecOpen)));
        QVERIFY(!w->C1->Connected());
        CheckButtons(false);
    }

    // The fake device counts what the port hands to it.
    void baudRateChoiceOnAnOpenPortReachesTheDeviceOnce() {
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        const int before = device.CallCount("SetCommState");
        Choose(w->ComComboBox2, Qt::Key_Down);
        QCOMPARE(w->ComComboBox2->currentText(), QStringLiteral("38400"));
        QCOMPARE(w->C1->BaudRate(), cport::br38400);
        QCOMPARE(device.CallCount("SetCommState"), before + 1);
        QCOMPARE(device.LastDcb().BaudRate, 38400u);
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(recorder->boxes.empty());
    }

    void baudRateChoiceOnAClosedPortOnlyStores() {
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        Choose(w->ComComboBox2, Qt::Key_Up);
        QCOMPARE(w->C1->BaudRate(), cport::br14400);
        QVERIFY(device.Calls().empty());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);  // opens with the stored rate
        QCOMPARE(device.LastDcb().BaudRate, 14400u);
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(recorder->boxes.empty());
    }

    // A new port name on an open port closes it and opens the new one; when
    // that fails the port is closed and the buttons say so.
    void failedPortChoiceOnAnOpenPortLeavesStartEnabled() {
        ttys.reset();
        ttys = std::make_unique<test::FakeTtyClass>(std::vector<std::string>{"ttyNOPE0"});
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        Choose(w->ComComboBox1, Qt::Key_Down);  // listed, but no such device
        QCOMPARE(w->C1->Port(), Text("ttyNOPE0"));
        QTRY_COMPARE(recorder->boxes.size(), std::size_t(1));
        QVERIFY(!w->C1->Connected());
        CheckButtons(false);
    }

    void timerBoxWhileClosedStartsNoTimer() {
        test::SimulatorThread simulator({});
        Build(simulator.Path());
        w->CheckBox1->setChecked(true);
        QVERIFY(w->CheckBox1->isChecked());
        QVERIFY(!w->T1->Enabled());
        QCOMPARE(w->T1->Interval(), 300);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QVERIFY(w->C1->Connected());
        QVERIFY(!w->T1->Enabled());  // Start does not look at the box
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->T1->Enabled());
        QVERIFY(w->T1->isActive());
        QCOMPARE(w->T1->Interval(), 300);
        QVERIFY(recorder->boxes.empty());
    }

    void timerBoxIntervals_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("ticking");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("error");
        QTest::newRow("250") << "250" << true << true << 250 << "";
        QTest::newRow("hex") << "$100" << true << true << 256 << "";
        QTest::newRow("0: enabled, no tick") << "0" << true << false << 0 << "";
        QTest::newRow("letters") << "12a" << false << false << 100
                                 << "'12a' is not a valid integer value.";
        QTest::newRow("empty") << "" << false << false << 100 << "'' is not a valid integer value.";
        QTest::newRow("trailing blank")
            << "300 " << false << false << 100 << "'300 ' is not a valid integer value.";
        QTest::newRow("negative: as 0") << "-5" << true << false << 0 << "";
    }
    void timerBoxIntervals() {
        QFETCH(QString, edit);
        QFETCH(bool, enabled);
        QFETCH(bool, ticking);
        QFETCH(int, interval);
        QFETCH(QString, error);
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        w->Edit1->setText(edit);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->CheckBox1->isChecked());  // the tick has changed either way
        QCOMPARE(w->T1->Enabled(), enabled);
        QCOMPARE(w->T1->isActive(), ticking);
        QCOMPARE(w->T1->Interval(), interval);
        if (error.isEmpty()) {
            QVERIFY(recorder->boxes.empty());
        } else {
            QCOMPARE(BoxTexts(), std::vector<std::string>{error.toStdString()});
        }
    }

    void editingTheIntervalWhileRunningChangesNothing() {
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QCOMPARE(w->T1->Interval(), 300);
        w->Edit1->setText(QStringLiteral("50"));
        QCOMPARE(w->T1->Interval(), 300);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);  // unticked: stops, takes 50
        QVERIFY(!w->T1->Enabled());
        QCOMPARE(w->T1->Interval(), 50);
    }

    void stopUnticksTheBoxAndStopsTheTimer_data() {
        QTest::addColumn<QString>("interval");
        QTest::newRow("300") << "300";
        QTest::newRow("negative") << "-1";
    }
    void stopUnticksTheBoxAndStopsTheTimer() {
        QFETCH(QString, interval);
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        w->Edit1->setText(interval);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->T1->Enabled());
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QVERIFY(!w->CheckBox1->isChecked());
        QVERIFY(!w->T1->Enabled());
        QVERIFY(!w->C1->Connected());
        CheckButtons(false);
        QVERIFY(recorder->boxes.empty());
    }

    // Stop always stops: an interval the box cannot take is reported, and
    // the timer stops and the port closes all the same.
    void stopWithAnInvalidIntervalStillStops() {
        Build();
        FakeComDevice& device = *fake;
        w->C1->SetDevice(device);
        QTest::mouseClick(w->BitBtn2, Qt::LeftButton);
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->T1->Enabled());
        w->Edit1->setText(QStringLiteral("abc"));
        QTest::mouseClick(w->BitBtn3, Qt::LeftButton);
        QCOMPARE(BoxTexts(), std::vector<std::string>{"'abc' is not a valid integer value."});
        QVERIFY(!w->CheckBox1->isChecked());
        QVERIFY(!w->T1->Enabled());
        QVERIFY(!w->C1->Connected());
        CheckButtons(false);
    }

    // The selectors forget the port when it is destroyed, and a later choice
    // writes nowhere.
    void selectorsWhenC1IsDestroyed() {
        Build();
        delete w->C1;
        QVERIFY(w->C1 == nullptr);
        for (cport::TComComboBox* box : {w->ComComboBox1, w->ComComboBox3, w->ComComboBox2}) {
            QVERIFY(box->ComPort() == nullptr);
            QCOMPARE(box->currentIndex(), 0);
        }
        Choose(w->ComComboBox2, Qt::Key_Down);
        QCOMPARE(w->ComComboBox2->currentIndex(), 1);
        QVERIFY(recorder->boxes.empty());
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::PortControlsTest)
#include "port_controls_test.moc"
