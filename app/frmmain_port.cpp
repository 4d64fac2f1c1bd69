// The port object C1 with its selectors, Start, Stop and the timer box.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "app/explained_error.h"
#include "app/frmmain.h"
#include "app/guarded.h"
#include "app/latin1_text.h"
#include "app/timer.h"
#include "base/int_conversion.h"
#include "serial/error/com_error.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"
#include "serial/ports/enum_com_ports.h"
#include "serial/ports/open_failure.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

namespace {

// The port list comes from the tty class in sysfs, or from the directory
// named by TARVIK_TTY_CLASS_DIR, laid out like it (a list of one's own, or an
// unreadable one, without touching the system).
std::string TtyClassDir() {
    const QByteArray dir = qgetenv("TARVIK_TTY_CLASS_DIR");
    return dir.isEmpty() ? std::string(cport::kSysClassTty) : dir.toStdString();
}

// COM1 in the Linux spelling that the port list uses, so that list and
// selection name it alike.
constexpr const char* kInitialPort = "ttyS0";

}  // namespace

void Tfrmmain::CreatePort(const Text& portArgument) {
    C1 = new cport::TComPort(this);
    C1->setObjectName(QStringLiteral("C1"));
    // Loading: the settings are only stored; EndLoading follows once every
    // object of the window exists.
    C1->BeginLoading();
    C1->SetBaudRate(cport::br19200);
    C1->SetPort(portArgument.empty() ? Text(kInitialPort) : portArgument);
    C1->Parity().SetBits(cport::prEven);
    C1->SetStopBits(cport::sbOneStopBit);
    C1->SetDataBits(cport::dbEight);
    C1->SetEvents({cport::evRxChar});
    cport::TComFlowControl& flow = C1->FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(cport::dtrDisable);
    flow.SetControlRTS(cport::rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    cport::TComTimeouts& timeouts = C1->Timeouts();
    timeouts.SetReadInterval(200);
    timeouts.SetReadTotalMultiplier(200);
    timeouts.SetReadTotalConstant(200);
    C1->SetOnRxChar([this](QObject* Sender, std::int32_t Count) { C1RxChar(Sender, Count); });
}

void Tfrmmain::CreateSelectors(const Text& portArgument) {
    // Made before the other controls, so that they lead the tab order (0..2).
    const auto make = [this](const char* name, int left, int width, cport::TComProperty property,
                             const char* storedText,
                             const std::function<void(cport::TComComboBox*)>& beforeFill) {
        auto* box = new cport::TComComboBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(left, 5, width, 21);
        if (beforeFill)
            beforeFill(box);
        box->SetComProperty(property);
        box->SetAutoApply(true);
        box->SetText(storedText);
        return box;
    };
    ComComboBox1 =
        make("ComComboBox1", 20, 91, cport::cpPort, kInitialPort,
             [&portArgument](cport::TComComboBox* box) {
                 // The box always shows the port Start opens, listed by the
                 // system or not (a pseudo-terminal never is).
                 box->SetExtraPortNames({portArgument.empty() ? Text(kInitialPort) : portArgument});
                 // A port on the network is typed, or pasted, as its URL.
                 box->SetTypedNames(true);
                 box->SetPortLister(
                     [](std::vector<Text>& ports) { cport::EnumComPorts(ports, TtyClassDir()); });
             });
    ComComboBox3 = make("ComComboBox3", 115, 76, cport::cpParity, "Even", {});
    ComComboBox2 = make("ComComboBox2", 195, 76, cport::cpBaudRate, "19200", {});
    setTabOrder(ComComboBox1, ComComboBox3);
    setTabOrder(ComComboBox3, ComComboBox2);
}

std::vector<Text> Tfrmmain::SystemPorts() const {
    std::vector<Text> ports;
    cport::EnumComPorts(ports, TtyClassDir());
    return ports;
}

void Tfrmmain::LinkSelectors() {
    for (cport::TComComboBox* box :
         {ComComboBox1, ComComboBox3, ComComboBox2, ComComboBox4, ComComboBox5, ComComboBox6}) {
        box->SetComPort(C1);
    }
}

void Tfrmmain::ConnectPortHandlers() {
    // Only once the window is whole: a window whose building failed destroys
    // C1 from its base class's destructor, when this object is gone.
    connect(C1, &QObject::destroyed, this, [this] { C1 = nullptr; });
    connect(BitBtn2, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn2Click));
    connect(BitBtn3, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn3Click));
    // toggled: a tick changed from code runs the handler as a click does.
    connect(CheckBox1, &QCheckBox::toggled, this, Command(&Tfrmmain::CheckBox1Click));
    // A new port name chosen on an open port closes it and opens the new one;
    // when that open fails the port is left closed, and Start must be there
    // to try again.
    connect(ComComboBox1, &QComboBox::activated, this, Guarded(this, &Tfrmmain::SetPortButtons));
}

void Tfrmmain::SetPortButtons() {
    const bool connected = C1 != nullptr && C1->Connected();
    BitBtn2->setEnabled(!connected);
    BitBtn3->setEnabled(connected);
    BitBtn1->setEnabled(connected);
    ShowSequenceButtons();
}

void Tfrmmain::BitBtn2Click() {
    // Arrivals only: modem lines, breaks and errors come in the port's time
    // line, which the window always asks for.
    // A port name still being typed is the one to open.
    ComComboBox1->TakeTypedName();
    if (!C1->Connected())
        C1->SetEvents({cport::evRxChar});
    portClosing_ = false;
    if (!C1->Connected())
        C1->SetReopenOnReturn(options_.reconnect);
    try {
        C1->Open();
    } catch (const cport::EComPort& error) {
        // Beside the port's own text: why, in words a user can act on.
        if (error.ErrorCode() == cport::ecOpen && error.WinErrorCode() > 0)
            throw EExplained(error,
                                 cport::ExplainOpenFailure(C1->Port(), error.WinErrorCode()));
        throw;
    }
    SetPortButtons();
    ShowOutputLines();
    ShowPortIdentity();
    if (C1->Connected()) {
        StartTimeline();
        okLines_ = badLines_ = shortLines_ = 0;
    }
    ShowLineState();
}

void Tfrmmain::BitBtn3Click() {
    // Stop is what a user presses when a device misbehaves: the timer stops
    // and the port closes every time. An interval the box cannot take is
    // still reported, once both are done.
    std::exception_ptr intervalError;
    if (CheckBox1->isChecked()) {
        {
            const QSignalBlocker quiet(CheckBox1);
            CheckBox1->setChecked(false);
        }
        try {
            CheckBox1Click();
        } catch (...) {
            intervalError = std::current_exception();
        }
    }
    T1->SetEnabled(false);
    if (C1->Connected())
        EndTimeline();
    breakTimer_->stop();  // Close releases a held break
    C1->Close();
    SetPortButtons();
    ShowOutputLines();
    ShowLineState();
    if (intervalError)
        std::rethrow_exception(intervalError);
}

void Tfrmmain::CheckBox1Click() {
    // A negative interval counts as 0: the timer is on and never ticks.
    tickLostDevice_ = false;  // the user's choice stands
    timerSends_ = 0;
    T1->SetInterval(std::max(StrToInt(ToText(Edit1->text())), 0));
    // A lost line sends nothing; with reconnect on, the choice holds for its return.
    const bool lost = C1->Connected() && C1->LineLost();
    timerBeforeLoss_ = lost && CheckBox1->isChecked();
    T1->SetEnabled(C1->Connected() && !lost && CheckBox1->isChecked());
}

}  // namespace tarvik
