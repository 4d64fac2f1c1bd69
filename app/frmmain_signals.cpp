// The port's line events on the line page: lamps for CTS, DSR, DCD and RI,
// the line error counts, and, with line events in the log, a marked line for
// each. The port reports the modem lines when it opens and closes; changes,
// breaks, rings and line errors only when Start opened it asking for them,
// which it does while line events are logged (otherwise its events stay the
// window's own: arrivals only).

#include <QLabel>

#include "app/frmmain.h"
#include "serial/com_port.h"

namespace tarvik {

void Tfrmmain::ConnectSignalHandlers() {
    C1->SetOnCTSChange([this](QObject*, bool on) { SignalChange(Label23, "CTS", on); });
    C1->SetOnDSRChange([this](QObject*, bool on) { SignalChange(Label24, "DSR", on); });
    C1->SetOnRLSDChange([this](QObject*, bool on) { SignalChange(Label25, "DCD", on); });
    C1->SetOnRing([this](QObject*) { C1Ring(); });
    C1->SetOnBreak([this](QObject*) { C1Break(); });
    C1->SetOnError([this](QObject*, cport::TComErrors errors) { C1Error(errors); });
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

void Tfrmmain::SignalChange(QLabel* lamp, const char* name, bool on) {
    // Closing reports every line off; the lamps then know nothing.
    if (portClosing_ || !C1->Connected()) {
        ShowLamp(lamp, -1);
        return;
    }
    const int before = lamp->property("state").toInt();
    ShowLamp(lamp, on ? 1 : 0);
    // The state at opening is no change; a change afterwards is an event.
    if (before != -1 && before != (on ? 1 : 0))
        LogEvent(std::string(name) + (on ? " on" : " off"), timeline::Now());
}

void Tfrmmain::C1Ring() {
    ++rings_;
    ShowLamp(Label26, 1);
    Label26->setToolTip(QStringLiteral("%1 rings since Start").arg(rings_));
    LogEvent("RI ring", timeline::Now());
    ShowLineState();
}

void Tfrmmain::C1Break() {
    ++breaks_;
    LogEvent("break received", timeline::Now());
    ShowLineState();
}

void Tfrmmain::C1Error(cport::TComErrors errors) {
    std::string text;
    const auto count = [&](cport::TComError error, std::uint64_t& counter, const char* name) {
        if (!errors.Contains(error))
            return;
        ++counter;
        text += text.empty() ? name : std::string(", ") + name;
    };
    count(cport::ceFrame, frameErrors_, "frame");
    count(cport::ceRxParity, parityErrors_, "parity");
    count(cport::ceOverrun, overruns_, "overrun");
    count(cport::ceRxOver, overruns_, "input buffer overrun");
    count(cport::ceBreak, breaks_, "break");
    if (!text.empty())
        LogEvent("line error: " + text, timeline::Now());
    ShowLineState();
}

}  // namespace tarvik
