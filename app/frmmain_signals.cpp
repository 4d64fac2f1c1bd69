// The port's line events on the line page: lamps for CTS, DSR, DCD and RI,
// the line error counts, and, with line events in the log, a marked line for
// each. The port reports the modem lines when it opens and closes; changes,
// rings, breaks and line errors come in its time line (`OnLineEvent`), which
// the window always asks for, with the time the device took them. Nothing
// here polls: the device wakes only when a line changes.

#include <QLabel>
#include <algorithm>
#include <string>

#include "app/frmmain.h"
#include "serial/port/com_port.h"

namespace tarvik {

void Tfrmmain::ConnectSignalHandlers() {
    // The state at opening and closing; changes come as line events.
    C1->SetOnCTSChange([this](QObject*, bool on) { SignalChange(Label23, on); });
    C1->SetOnDSRChange([this](QObject*, bool on) { SignalChange(Label24, on); });
    C1->SetOnRLSDChange([this](QObject*, bool on) { SignalChange(Label25, on); });
    for (QLabel* lamp : {Label23, Label24, Label25, Label26}) ShowLamp(lamp, -1);
}

void Tfrmmain::ShowLamp(QLabel* lamp, int state) {
    static const char* const kStyles[] = {
        "QLabel { background: #d0d0d0; color: #808080; border: 1px solid #a0a0a0; }",
        "QLabel { background: #e8e8e8; color: #000000; border: 1px solid #a0a0a0; }",
        "QLabel { background: #40c040; color: #000000; border: 1px solid #208020; }"};
    lamp->setProperty("state", state);
    lamp->setStyleSheet(QString::fromLatin1(kStyles[state + 1]));
}

void Tfrmmain::SignalChange(QLabel* lamp, bool on) {
    // Closing reports every line off; the lamps then know nothing.
    ShowLamp(lamp, portClosing_ || !C1->Connected() ? -1 : on ? 1 : 0);
}

void Tfrmmain::ModemLineEvent(const cport::LineEvent& event, const timeline::Moment& at) {
    using cport::LineEventKind;
    QLabel* const lamp = event.kind == LineEventKind::kCts    ? Label23
                         : event.kind == LineEventKind::kDsr  ? Label24
                         : event.kind == LineEventKind::kRlsd ? Label25
                                                              : Label26;
    const char* const name = event.kind == LineEventKind::kCts    ? "CTS"
                             : event.kind == LineEventKind::kDsr  ? "DSR"
                             : event.kind == LineEventKind::kRlsd ? "DCD"
                                                                  : "RI";
    ShowLamp(lamp, event.state ? 1 : 0);
    if (event.kind == LineEventKind::kRing && !event.state) {
        ++rings_;  // a ring ends as the indicator goes off
        Label26->setToolTip(QStringLiteral("%1 rings since Start").arg(rings_));
    }
    LogEvent(std::string(name) + (event.state ? " on" : " off"), at);
}

void Tfrmmain::LineErrorEvent(const cport::LineEvent& event, const timeline::Moment& at) {
    using cport::LineEventKind;
    const std::uint32_t count = std::max<std::uint32_t>(event.count, 1);
    const char* name = "";
    switch (event.kind) {
        case LineEventKind::kBreak:
            breaks_ += count;
            name = "break";
            break;
        case LineEventKind::kFrame:
            frameErrors_ += count;
            name = "frame";
            break;
        case LineEventKind::kParity:
            parityErrors_ += count;
            name = "parity";
            break;
        case LineEventKind::kOverrun:
            overruns_ += count;
            name = "overrun";
            break;
        default:
            overruns_ += count;
            name = "input buffer overrun";
            break;
    }
    errorsCounted_ = true;
    // The kernel's own counts, where the driver keeps them, are the page's.
    kernelCounts_ = C1->Counters().kernel;
    const std::string times = count > 1 ? ", " + std::to_string(count) + " times" : "";
    LogEvent(event.kind == LineEventKind::kBreak ? "break received" + times
                                                 : "line error: " + std::string(name) + times,
             at);
    ShowLineState();
}

}  // namespace tarvik
