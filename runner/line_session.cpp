#include "runner/line_session.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <ctime>

#include "capture/capture_writer.h"
#include "codec/received_check.h"
#include "runner/sample_recorder.h"
#include "serial/port/com_os_values.h"
#include "serial/error/com_error.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"
#include "serial/ports/open_failure.h"
#include "serial/ports/write_failure.h"

namespace tarvik::runner {

namespace {

// The window's port C1 as it starts: 19200 baud, even parity, 8 data bits,
// 1 stop bit, no flow control, arrivals only, its read time-outs.
void ApplyWindowSettings(cport::TComPort& port) {
    port.SetBaudRate(cport::br19200);
    port.Parity().SetBits(cport::prEven);
    port.SetStopBits(cport::sbOneStopBit);
    port.SetDataBits(cport::dbEight);
    port.SetEvents({cport::evRxChar});
    cport::TComFlowControl& flow = port.FlowControl();
    flow.SetControlDTR(cport::dtrDisable);
    flow.SetControlRTS(cport::rtsDisable);
    cport::TComTimeouts& timeouts = port.Timeouts();
    timeouts.SetReadInterval(200);
    timeouts.SetReadTotalMultiplier(200);
    timeouts.SetReadTotalConstant(200);
}

void ApplySwitches(cport::TComPort& port, const PortSettings& settings) {
    if (settings.customBaudRate)
        port.SetCustomBaudRate(*settings.customBaudRate);
    if (settings.baudRate)
        port.SetBaudRate(*settings.baudRate);
    if (settings.parity)
        port.Parity().SetBits(*settings.parity);
    if (settings.dataBits)
        port.SetDataBits(*settings.dataBits);
    if (settings.stopBits)
        port.SetStopBits(*settings.stopBits);
    if (settings.flowControl)
        port.FlowControl().SetFlowControl(*settings.flowControl);
}

}  // namespace

namespace {

// The port's times where it took them, the clocks now where it has none.
Stamp StampOf(const cport::LineTime& time) {
    return time.Valid() ? Stamp{time.monoUs, time.wallUs} : NowStamp();
}

std::string EventText(const cport::LineEvent& event) {
    std::string text = cport::LineEventName(event.kind);
    switch (event.kind) {
        case cport::LineEventKind::kCts:
        case cport::LineEventKind::kDsr:
        case cport::LineEventKind::kRlsd:
        case cport::LineEventKind::kRing:
            return text + (event.state ? " on" : " off");
        case cport::LineEventKind::kBreak:
        case cport::LineEventKind::kFrame:
        case cport::LineEventKind::kParity:
        case cport::LineEventKind::kOverrun:
        case cport::LineEventKind::kBufferOverrun:
            return text + " (" + std::to_string(event.count) + ")";
        case cport::LineEventKind::kUnconfirmed:
            return text + ": " + cport::UnconfirmedSettingsText(event.count);
        case cport::LineEventKind::kLost:
            return event.reason.empty() ? text : text + ": " + event.reason;
        default:
            return text;
    }
}

// The switch's rule with the port's line settings (the automatic gap is
// 3.5 of its character times) and the check value that mends the cuts.
timeline::FramingRule RuleFor(const Framing& framing, cport::TComPort& port) {
    timeline::FramingRule rule;
    switch (framing.messages.kind) {
        case timeline::MessageRuleKind::PerArrival:
            break;
        case timeline::MessageRuleKind::GapAuto:
            rule.kind = timeline::FramingKind::Gap;
            rule.gapUs = timeline::AutoGapUs(
                cport::BaudRateToBps(port.BaudRate(), port.CustomBaudRate()),
                cport::DataBitsToOs(port.DataBits()), port.Parity().Bits() != cport::prNone,
                2 + cport::StopBitsToOs(port.StopBits()));
            break;
        case timeline::MessageRuleKind::GapMs:
            rule.kind = timeline::FramingKind::Gap;
            rule.gapUs = std::int64_t{framing.messages.gapMs} * 1000;
            break;
        case timeline::MessageRuleKind::EndByte:
            rule.kind = timeline::FramingKind::EndByte;
            rule.endByte = framing.messages.endByte;
            break;
    }
    rule.check = framing.check;
    return rule;
}

std::string Mark(const Framing& framing, std::string_view bytes) {
    return framing.check == nullptr ? std::string() : ReceivedCheckMark(*framing.check, bytes);
}

// A monotonic time of the port's with the wall-clock time it corresponds to.
Stamp StampAt(std::int64_t monoUs) {
    const Stamp now = NowStamp();
    return {monoUs, now.wallUs - (now.monoUs - monoUs)};
}

}  // namespace

LineSession::LineSession(const PortSettings& settings, bool reconnect, Transcript& transcript,
                         const Framing& framing)
    : settings_(settings),
      reconnect_(reconnect),
      framing_(framing),
      framingTimer_(std::make_unique<QTimer>()),
      transcript_(transcript) {
    framingTimer_->setSingleShot(true);
    framingTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(framingTimer_.get(), &QTimer::timeout, [this] { FramingTimeout(); });
    flushTimer_ = std::make_unique<QTimer>();
    flushTimer_->setSingleShot(true);
    QObject::connect(flushTimer_.get(), &QTimer::timeout, [this] {
        transcript_.Flush();
        sinceFlush_.start();
    });
    deadline_ = std::make_unique<QTimer>();
    deadline_->setSingleShot(true);
    deadline_->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadline_.get(), &QTimer::timeout, [] {});
    sinceFlush_.start();
    if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance())
        flushBeforeSleep_ = QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock,
                                             [this] { FlushBeforeSleep(); });
}

void LineSession::FlushBeforeSleep() {
    // A write a sleep: at 20,000 exchanges a second that was a third of the
    // runner's system calls. A reader watching sees the lines within 20 ms.
    constexpr qint64 kFlushPauseMs = 20;
    if (!transcript_.HasGathered() || flushTimer_->isActive())
        return;
    const qint64 since = sinceFlush_.elapsed();
    if (since >= kFlushPauseMs) {
        transcript_.Flush();
        sinceFlush_.start();
    } else {
        flushTimer_->start(static_cast<int>(kFlushPauseMs - since));
    }
}

LineSession::~LineSession() {
    QObject::disconnect(flushBeforeSleep_);
    Close();
    transcript_.Flush();
}

void LineSession::AddCapture(capture::CaptureWriter* writer) {
    captures_.push_back(writer);
}

bool LineSession::IsOpen() const {
    return port_ && port_->Connected();
}

bool LineSession::LineLost() const {
    return port_ && port_->LineLost();
}

void LineSession::Open(const Text& port) {
    // A script's open() of the port the command line already opened keeps it:
    // closing and opening again would empty its input and log both.
    if (IsOpen() && port_->Port() == port)
        return;
    Close();
    port_ = std::make_unique<cport::TComPort>();
    ApplyWindowSettings(*port_);
    ApplySwitches(*port_, settings_);
    port_->SetPort(port);
    port_->SetOnRxChar([this](QObject*, std::int32_t count) { OnRxChar(count); });
    port_->SetOnLineEvent([this](QObject*, const cport::LineEvent& event) { OnLineEvent(event); });
    port_->SetReopenOnReturn(reconnect_);
    // The script's thread does nothing but wait while a wait runs: it waits
    // on the device itself, which saves the event thread's wake-up and
    // hand-over on every arrival.
    port_->SetServedByEventLoop(true);
    try {
        port_->Open();
    } catch (const cport::EComPort& error) {
        port_.reset();
        std::string reason = "Cannot open port " + port + ": " + error.what();
        // Code 1 is the device's own refusal: say why in words one can act on.
        if (error.ErrorCode() == 1 && error.WinErrorCode() > 0)
            reason += ". " + cport::ExplainOpenFailure(port, error.WinErrorCode());
        throw ERunAborted(reason);
    } catch (const std::exception& error) {
        port_.reset();
        throw ERunAborted("Cannot open port " + port + ": " + error.what());
    }
    transcript_.Event("port opened: " + port, NowStamp());
    framer_ = timeline::Framer(RuleFor(framing_, *port_));
}

void LineSession::Close() {
    if (!port_)
        return;
    CloseMessages();
    const bool wasOpen = port_->Connected();
    try {
        port_->Close();
    } catch (const std::exception& error) {
        transcript_.Event(std::string("port closed with an error: ") + error.what(), NowStamp());
        port_.reset();
        return;
    }
    port_.reset();
    if (wasOpen)
        transcript_.Event("port closed", NowStamp());
}

Stamp LineSession::Send(std::string_view bytes) {
    if (stoppedBy_ != 0)
        throw ERunStopped();
    if (!IsOpen())
        throw ERunAborted("The port is not open");
    if (port_->LineLost())  // only with reconnect: a lost line ends the run otherwise
        WaitUntil([this] { return !port_->LineLost(); }, INT64_MAX);
    std::int32_t written = 0;
    try {
        written = port_->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    } catch (const cport::EComPort& error) {
        transcript_.Event(std::string("write failed: ") + error.what(), NowStamp());
        std::string reason = std::string("The port went away: ") + error.what();
        if (error.ErrorCode() == cport::ecWrite && error.WinErrorCode() > 0)
            reason += ". " + cport::ExplainWriteFailure({error.WinErrorCode(), port_->LineLost(),
                                                         port_->ReopenOnReturn(), {}});
        throw ERunAborted(reason);
    } catch (const std::exception& error) {
        transcript_.Event(std::string("write failed: ") + error.what(), NowStamp());
        throw ERunAborted(std::string("The port went away: ") + error.what());
    }
    if (written > 0) {
        const std::string_view taken = bytes.substr(0, static_cast<std::size_t>(written));
        for (capture::CaptureWriter* capture : captures_)
            capture->Sent(taken, port_->LastWriteTimes().first);
    }
    const Stamp done = StampOf(port_->LastWriteTimes().last);
    CloseMessages();  // the answer gathered so far goes in first, in order
    transcript_.Sent(bytes.substr(0, static_cast<std::size_t>(std::max(written, 0))), done);
    // A line held up by flow control ends the write at its time-out with
    // part of the bytes sent: what follows would be judged on a cut request.
    if (static_cast<std::size_t>(written) != bytes.size())
        throw ERunAborted("The line took only " + std::to_string(written) + " of " +
                          std::to_string(bytes.size()) + " bytes within the write time-out");
    if (stoppedBy_ != 0)
        throw ERunStopped();
    return done;
}

cport::TComPort& LineSession::Port() {
    if (!IsOpen())
        throw ERunAborted("The port is not open");
    return *port_;
}

void LineSession::OnRxChar(std::int32_t count) {
    // Runs in the port's report step: nothing may leave it.
    try {
        Text received;
        port_->ReadText(received, count);
        Received(received);
    } catch (const std::exception& error) {
        readError_ = std::string("Reading from the port failed: ") + error.what();
    }
}

void LineSession::Received(const Text& received) {
    if (received.empty())
        return;
    const cport::TransferTimes times = port_->LastReadTimes();
    for (capture::CaptureWriter* capture : captures_) capture->Received(received, times.first);
    if (samples_)
        samples_->Received(received, times);
    // The arrival of the last byte read: the answer is complete then.
    const Stamp at = StampOf(times.last);
    pending_ += received;
    blocks_.push_back({pending_.size(), at});
    ++arrivals_;
    lastArrival_ = at;
    Transcribe(received, times);
    if (onReceived_)
        onReceived_(received, at);
}

void LineSession::Transcribe(const Text& received, const cport::TransferTimes& times) {
    if (framing_.messages.kind == timeline::MessageRuleKind::PerArrival) {
        transcript_.Received(received, StampOf(times.last), Mark(framing_, received));
        return;
    }
    const std::int64_t firstUs = times.first.Valid() ? times.first.monoUs : NowStamp().monoUs;
    const std::int64_t lastUs = times.last.Valid() ? times.last.monoUs : firstUs;
    std::vector<timeline::Message> messages;
    framer_.Add({received, firstUs, lastUs, times.earliest.monoUs}, messages);
    WriteMessages(messages);
    ArmFramingTimer();
}

void LineSession::WriteMessages(const std::vector<timeline::Message>& messages) {
    for (const timeline::Message& message : messages)
        transcript_.Received(message.bytes, StampAt(message.lastUs), Mark(framing_, message.bytes));
}

void LineSession::ArmFramingTimer() {
    const std::optional<std::int64_t> due = framer_.DueUs();
    if (!due) {
        framingTimer_->stop();
        return;
    }
    const std::int64_t leftUs = std::max<std::int64_t>(*due - NowStamp().monoUs, 0);
    const int ms = static_cast<int>(std::min<std::int64_t>((leftUs + 999) / 1000, 1 << 30));
    if (!framingTimer_->isActive() || framingTimer_->remainingTime() > ms)
        framingTimer_->start(ms);
}

void LineSession::FramingTimeout() {
    // As in the window: what the device already holds arrived before this
    // timer ran and is taken first, so that only a gap the device saw cuts.
    std::int64_t quietUs = NowStamp().monoUs;
    try {
        if (framer_.Pending() && IsOpen() && !port_->LineLost()) {
            Text received;
            port_->ReadWaiting(received, 4096);
            const cport::TransferTimes times = port_->LastReadTimes();
            quietUs = times.quiet.Valid() ? times.quiet.monoUs : 0;
            Received(received);
        }
    } catch (const std::exception& error) {
        readError_ = std::string("Reading from the port failed: ") + error.what();
    }
    std::vector<timeline::Message> messages;
    framer_.Poll(quietUs, messages);
    WriteMessages(messages);
    ArmFramingTimer();
}

void LineSession::CloseMessages() {
    std::vector<timeline::Message> messages;
    framer_.Close(messages);
    WriteMessages(messages);
    framingTimer_->stop();
}

void LineSession::OnLineEvent(const cport::LineEvent& event) {
    using cport::LineEventKind;
    for (capture::CaptureWriter* capture : captures_) capture->Event(event);
    // Opening and closing are written with the port's name by Open and Close.
    if (event.kind == LineEventKind::kOpened || event.kind == LineEventKind::kClosed)
        return;
    transcript_.Event(EventText(event), StampOf(event.time));
    if (event.kind == LineEventKind::kLost && reconnect_)
        transcript_.Event(port_->AwaitedReturn(), StampOf(event.time));
    events_.push_back(event);
    if (event.kind == LineEventKind::kLost && !reconnect_ && readError_.empty())
        readError_ = "The port went away (" + EventText(event) + ")";
}

void LineSession::Stop(int signal) {
    stoppedBy_ = signal;
}

void LineSession::Abort(const std::string& reason) {
    if (readError_.empty())
        readError_ = reason;
}

bool LineSession::WaitUntil(const std::function<bool()>& done, std::int64_t deadlineUs) {
    // Each pass serves what the event loop has (an arrival, a timer, a
    // signal) and then judges again: whatever changes the condition runs in
    // one of those, so nothing has to end the pass.
    // The timer is left running when a wait ends: the next wait, most often
    // a later one, keeps it unless it must wake sooner (arming it anew is a
    // good part of a quick exchange's work). Waking early costs a pass.
    QTimer& deadline = *deadline_;
    for (;;) {
        if (betweenWaits_)
            betweenWaits_();
        // What arrived before the line went away (or a stop came) is judged first.
        if (done())
            return true;
        if (stoppedBy_ != 0)
            throw ERunStopped();
        if (!readError_.empty()) {
            transcript_.Event("run ended: " + readError_, NowStamp());
            throw ERunAborted(readError_);
        }
        const std::int64_t left = deadlineUs - NowStamp().monoUs;
        if (left <= 0)
            return false;
        if (deadlineUs != INT64_MAX) {
            // The timer counts whole ms: it runs to the last whole ms, the
            // rest is slept out here, so a paced wait ends when it should
            // (rounding up made each up to 1 ms late). What came meanwhile
            // is served in one pass and judged before the deadline is.
            if (left < 1000) {
                const timespec rest{0, static_cast<long>(left) * 1000};
                nanosleep(&rest, nullptr);
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                continue;
            }
            const int ms = static_cast<int>(std::min<std::int64_t>(left / 1000, 1 << 30));
            if (!deadline.isActive() || deadline.remainingTime() > ms)
                deadline.start(ms);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

Stamp LineSession::ArrivalOf(std::size_t offset) const {
    const auto block = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                                        [](std::size_t o, const Block& b) { return o < b.end; });
    return block == blocks_.end() ? lastArrival_ : block->at;
}

void LineSession::Take(std::size_t count) {
    count = std::min(count, pending_.size());
    pending_.erase(0, count);
    auto kept = blocks_.begin();
    while (kept != blocks_.end() && kept->end <= count) ++kept;
    blocks_.erase(blocks_.begin(), kept);
    for (Block& block : blocks_) block.end -= count;
}

}  // namespace tarvik::runner
