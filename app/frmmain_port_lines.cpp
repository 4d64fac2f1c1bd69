// Line control and who the port is, on the line page: DTR and RTS switches,
// a break pulse, the chosen port's identity (also as the port list's tool
// tips), the port list following plug and unplug, and why an open failed.

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolTip>
#include <cerrno>
#include <cstdio>
#include <string>

#include "app/default_error.h"
#include "app/frmmain.h"
#include "app/guarded.h"
#include "app/latin1_text.h"
#include "base/int_conversion.h"
#include "serial/error/com_error.h"
#include "serial/port/com_port.h"
#include "serial/ports/port_info.h"
#include "serial/ports/port_watcher.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

namespace {

// What the system knows of a port, in one line: "FT232R USB UART, FTDI,
// serial A10K3ZQ1, driver ftdi_sio, USB 0403:6001, /dev/serial/by-id/...".
std::string Summary(const cport::PortInfo& info) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (!part.empty())
            text += (text.empty() ? "" : ", ") + part;
    };
    if (!info.network.empty())
        return info.network;
    if (info.isConsole)
        add("kernel console");
    add(info.product);
    add(info.manufacturer);
    if (!info.serialNumber.empty())
        add("serial " + info.serialNumber);
    if (!info.driver.empty())
        add("driver " + info.driver);
    if (info.vendorId >= 0) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "USB %04x:%04x", info.vendorId & 0xFFFF,
                      info.productId & 0xFFFF);
        add(ids);
    }
    add(info.byIdPath);
    if (!info.inSysfs)
        add(info.access.exists ? "not a listed serial device (a pseudo-terminal?)" : "not present");
    if (info.access.exists && !info.access.mayOpen)
        add("no permission" +
            (info.access.groupName.empty() ? "" : " (group " + info.access.groupName + ")"));
    return text;
}

// The port list's items tell who they are when the pointer rests on them;
// read then, so that a long list costs nothing at start.
class PortToolTips : public QObject {
  public:
    explicit PortToolTips(QComboBox* box) : QObject(box), box_(box) {
        box->view()->viewport()->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ToolTip)
            return false;
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex item = box_->view()->indexAt(help->pos());
        if (!item.isValid())
            return false;
        const std::string text = Summary(cport::DescribePort(ToText(item.data().toString())));
        QToolTip::showText(help->globalPos(), QString::fromStdString(text), box_->view());
        return true;
    }

  private:
    QComboBox* box_;
};

}  // namespace

void Tfrmmain::BuildPortLinesControls() {
    QWidget* page = TabSheet9;
    CheckBox5 = new QCheckBox(QStringLiteral("DTR"), page);
    CheckBox5->setObjectName(QStringLiteral("CheckBox5"));
    CheckBox5->setGeometry(10, 185, 50, 17);
    CheckBox6 = new QCheckBox(QStringLiteral("RTS"), page);
    CheckBox6->setObjectName(QStringLiteral("CheckBox6"));
    CheckBox6->setGeometry(65, 185, 50, 17);
    BitBtn9 = new QPushButton(QStringLiteral("Break"), page);
    BitBtn9->setObjectName(QStringLiteral("BitBtn9"));
    BitBtn9->setGeometry(125, 181, 60, 25);
    auto* ms = new QLabel(QStringLiteral("ms:"), page);
    ms->move(195, 188);
    Edit4 = new QLineEdit(QStringLiteral("250"), page);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Edit4->setGeometry(220, 185, 50, 21);
    for (QWidget* control : {static_cast<QWidget*>(CheckBox5), static_cast<QWidget*>(CheckBox6),
                             static_cast<QWidget*>(BitBtn9)})
        control->setEnabled(false);
    CheckBox7 = new QCheckBox(QStringLiteral("Reopen when the device returns"), page);
    CheckBox7->setObjectName(QStringLiteral("CheckBox7"));
    CheckBox7->setGeometry(290, 185, 240, 17);
    Label27 = new QLabel(page);
    Label27->setObjectName(QStringLiteral("Label27"));
    Label27->setGeometry(10, 220, 640, 17);
    Label27->setTextInteractionFlags(Qt::TextSelectableByMouse);

    breakTimer_ = new QTimer(this);
    breakTimer_->setSingleShot(true);
    new PortToolTips(ComComboBox1);
}

void Tfrmmain::ConnectPortLinesHandlers() {
    // clicked, not toggled: the switches follow the port from code as well.
    connect(CheckBox5, &QCheckBox::clicked, this, Command(&Tfrmmain::CheckBox5Click));
    connect(CheckBox6, &QCheckBox::clicked, this, Command(&Tfrmmain::CheckBox6Click));
    connect(BitBtn9, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn9Click));
    connect(breakTimer_, &QTimer::timeout, this, Guarded(this, &Tfrmmain::EndBreak));
    connect(ComComboBox1, &QComboBox::activated, this, Guarded(this, &Tfrmmain::ShowPortIdentity));
    // Settings handed to the open port set DTR and RTS from its flow control again.
    for (cport::TComComboBox* box :
         {ComComboBox1, ComComboBox2, ComComboBox3, ComComboBox4, ComComboBox5, ComComboBox6})
        connect(box, &cport::TComComboBox::Changed, this,
                Guarded(this, &Tfrmmain::ShowOutputLines));
    connect(CheckBox7, &QCheckBox::toggled, this, [this](bool on) { options_.reconnect = on; });
    // Always: a pulled adapter shows at once, not at the next Send.
    C1->SetOnLineEvent([this](QObject*, const cport::LineEvent& event) { C1LineEvent(event); });
    listedPorts_ = SystemPorts();
    connect(ComComboBox1, &cport::TComComboBox::AboutToShowList, this,
            Guarded(this, &Tfrmmain::PortListDropsDown));
    WatchPorts(cport::TPortWatchSource::Automatic);
}

void Tfrmmain::WatchPorts(cport::TPortWatchSource source) {
    delete PortWatcher1;
    PortWatcher1 = new cport::TPortWatcher(this, source);
    PortWatcher1->setObjectName(QStringLiteral("PortWatcher1"));
    PortWatcher1->SetOnChange([this](const cport::TPortChange& change) {
        Guarded(this, &Tfrmmain::PortsChanged)(change.Text());
    });
}

void Tfrmmain::PortListDropsDown() {
    // Without news of ports that come and go, the list is read when it is
    // looked at: no polling, and it is right whenever the user sees it.
    if (PortWatcher1->Mode() == cport::TPortWatchMode::pwOnDemand)
        RereadPorts();
}

bool Tfrmmain::RereadPorts() {
    // News of a tty that is no serial port (a console, a pty's kin) changes
    // nothing; refilling would close a list the user has open.
    std::vector<Text> ports = SystemPorts();
    if (ports == listedPorts_)
        return false;
    listedPorts_ = std::move(ports);
    // Refilling selects C1's port again: the choice stays while it is listed.
    ComComboBox1->SetComProperty(cport::cpPort);
    ShowPortIdentity();
    return true;
}

void Tfrmmain::PortsChanged(const std::string& news) {
    if (RereadPorts())
        LogEvent(news, timeline::Now());
}

void Tfrmmain::ShowPortIdentity() {
    if (C1 == nullptr)
        return;
    std::string text = Summary(cport::DescribePort(C1->Port()));
    // A network port's server says who it is once connected.
    if (const std::string server = C1->ServerSignature(); !server.empty())
        text += ", server: " + server;
    Label27->setText(QStringLiteral("Port %1: %2")
                         .arg(QString::fromStdString(C1->Port()),
                              QString::fromStdString(text.empty() ? "nothing known" : text)));
}

void Tfrmmain::ShowOutputLines() {
    const bool open = C1 != nullptr && C1->Connected();
    bool lines = open;
    bool dtr = false;
    bool rts = false;
    if (open) {
        try {
            dtr = C1->DTR();
            rts = C1->RTS();
        } catch (const cport::EComPort& error) {
            // ENOTTY: the device has no modem lines (a pseudo-terminal).
            if (error.WinErrorCode() != ENOTTY)
                throw;
            lines = false;
        }
    }
    const QSignalBlocker quiet5(CheckBox5);
    const QSignalBlocker quiet6(CheckBox6);
    const QString noLines =
        open && !lines ? QStringLiteral("This device has no modem lines") : QString();
    for (auto [box, on] : {std::pair{CheckBox5, dtr}, std::pair{CheckBox6, rts}}) {
        box->setEnabled(lines);
        box->setChecked(on);
        box->setToolTip(noLines);
    }
    // A device without modem lines (a pseudo-terminal) takes no break either:
    // its driver accepts one and sends nothing.
    BitBtn9->setEnabled(lines && !breakTimer_->isActive());
    BitBtn9->setToolTip(noLines);
}

void Tfrmmain::CheckBox5Click() {
    try {
        C1->SetDTR(CheckBox5->isChecked());
    } catch (...) {
        ShowOutputLines();
        throw;
    }
    ShowOutputLines();
}

void Tfrmmain::CheckBox6Click() {
    try {
        C1->SetRTS(CheckBox6->isChecked());
    } catch (...) {
        ShowOutputLines();
        throw;
    }
    ShowOutputLines();
}

void Tfrmmain::BitBtn9Click() {
    const std::int32_t ms = StrToInt(ToText(Edit4->text()));
    if (ms <= 0)
        throw std::runtime_error("A break lasts at least 1 ms, not " + std::to_string(ms));
    // The window keeps answering while the line is held: its own timer ends
    // the break, not a wait on the main thread.
    C1->SetBreak(true);
    LogEvent("break sent, " + std::to_string(ms) + " ms", timeline::Now());
    breakTimer_->start(ms);
    BitBtn9->setEnabled(false);
}

void Tfrmmain::C1LineEvent(const cport::LineEvent& event) {
    // Called in a hand-over from the port's event thread: errors are shown
    // here, as for arrivals.
    try {
        if (capture::CaptureWriter* timed = Capture(capture::CaptureForm::kTimed))
            timed->Event(event);
        const timeline::Moment at = event.time.Valid()
                                        ? timeline::Moment{event.time.monoUs, event.time.wallUs}
                                        : timeline::Now();
        switch (event.kind) {
            case cport::LineEventKind::kLost:
                // Said once, in sight ("lost" or "waiting" at the top row) and,
                // with line events on, in the log; no box, which would hold
                // the port's event thread. The timer stops; with reconnect on
                // it goes on once the device is back, also when a tick was
                // writing, or had just failed to write as the device went.
                timerBeforeLoss_ = T1->Enabled() || tickRunning_ || tickLostDevice_;
                tickLostDevice_ = false;
                T1->SetEnabled(false);
                // The box says whether the timer will send: with reconnect
                // off it never will again on this line; with reconnect on it
                // stays ticked while the port waits, since sending resumes.
                if (!C1->ReopenOnReturn()) {
                    const QSignalBlocker quiet(CheckBox1);
                    CheckBox1->setChecked(false);
                }
                CloseMessage();
                lossReason_ = event.reason;
                LogEvent(event.reason.empty() ? "line lost" : "line lost: " + event.reason, at);
                if (C1->ReopenOnReturn())
                    LogEvent(C1->AwaitedReturn(), at);
                ShowLineState();
                break;
            case cport::LineEventKind::kBack:
                lossReason_.clear();
                LogEvent("line back", at);
                if (timerBeforeLoss_ && CheckBox1->isChecked())
                    T1->SetEnabled(true);
                ShowOutputLines();
                ShowLineState();
                break;
            case cport::LineEventKind::kNoLineEvents:
                LogEvent("this device reports no modem lines, breaks or line errors", at);
                break;
            case cport::LineEventKind::kUnconfirmed:
                LogEvent("the server did not confirm: " +
                             cport::UnconfirmedSettingsText(event.count),
                         at);
                break;
            case cport::LineEventKind::kCts:
            case cport::LineEventKind::kDsr:
            case cport::LineEventKind::kRlsd:
            case cport::LineEventKind::kRing:
                ModemLineEvent(event, at);
                break;
            case cport::LineEventKind::kBreak:
            case cport::LineEventKind::kFrame:
            case cport::LineEventKind::kParity:
            case cport::LineEventKind::kOverrun:
            case cport::LineEventKind::kBufferOverrun:
                LineErrorEvent(event, at);
                break;
            case cport::LineEventKind::kOpened:
            case cport::LineEventKind::kClosed:
                break;  // Start and Stop say so themselves
        }
    } catch (const std::exception& error) {
        ShowDefaultError(error);
    }
}

void Tfrmmain::EndBreak() {
    if (C1->Connected())
        C1->SetBreak(false);
    ShowOutputLines();
}

}  // namespace tarvik
