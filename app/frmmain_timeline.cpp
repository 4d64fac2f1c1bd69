// What the log options add to the logs: a time in front of each line, one
// line per message, sent blocks and line events as marked lines. With every
// option off none of this runs, and the logs are what they always were.

#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <string>

#include "app/default_error.h"
#include "app/frmmain.h"
#include "codec/fun.h"
#include "serial/port/com_os_values.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

// The most a gap timer takes from the device at once: a driver read's worth.
constexpr std::int32_t kTakeAtMost = 4096;

}  // namespace

void Tfrmmain::PrepareTimeline() {
    // Closes a gap rule's message once the line has been quiet long enough.
    // It runs only while a message is being gathered.
    gapTimer_ = new QTimer(this);
    gapTimer_->setSingleShot(true);
    gapTimer_->setTimerType(Qt::PreciseTimer);
    connect(gapTimer_, &QTimer::timeout, this, [this] { GapTimeout(); });
}

timeline::FramingRule Tfrmmain::CurrentRule() const {
    timeline::FramingRule rule;
    switch (options_.messages) {
        case TMessageRule::PerArrival:
            break;
        case TMessageRule::GapAuto: {
            rule.kind = timeline::FramingKind::Gap;
            const std::uint8_t stopBits = cport::StopBitsToOs(C1->StopBits());  // 0, 1, 2
            rule.gapUs =
                timeline::AutoGapUs(cport::BaudRateToBps(C1->BaudRate(), C1->CustomBaudRate()),
                                    cport::DataBitsToOs(C1->DataBits()),
                                    C1->Parity().Bits() != cport::prNone, 2 + stopBits);
            break;
        }
        case TMessageRule::GapMs:
            rule.kind = timeline::FramingKind::Gap;
            rule.gapUs = std::int64_t{options_.gapMs} * 1000;
            break;
        case TMessageRule::EndByte:
            rule.kind = timeline::FramingKind::EndByte;
            rule.endByte = options_.endByte;
            break;
    }
    // Where timing cannot tell, the check value chosen for the marks repairs the cuts.
    rule.check = options_.check;
    return rule;
}

std::string Tfrmmain::Timestamp(std::int64_t monotonicUs) {
    if (options_.timestamps == timeline::TimestampMode::Off)
        return {};
    const timeline::Moment now = timeline::Now();
    const timeline::Moment at{monotonicUs, now.wallUs - (now.monotonicUs - monotonicUs)};
    std::string text =
        timeline::FormatTimestamp(options_.timestamps, at, previousLineUs_, startUs_);
    previousLineUs_ = monotonicUs;
    return text;
}

void Tfrmmain::ReceiveFramed(const Text& received, std::int32_t count,
                             const cport::TransferTimes& times) {
    // The times the port took where the bytes left the driver; a read that
    // took nothing has none, and then the time is now.
    const timeline::Moment at = times.first.Valid()
                                    ? timeline::Moment{times.first.monoUs, times.first.wallUs}
                                    : timeline::Now();
    const std::int64_t lastUs = times.last.Valid() ? times.last.monoUs : at.monotonicUs;
    std::vector<timeline::Message> messages;
    if (options_.messages == TMessageRule::PerArrival) {
        // The line's count stays the event's, as without options.
        Text line = Timestamp(at.monotonicUs);
        const std::size_t shownAt = line.size();
        line += DisplayBytes(received);
        const std::size_t shownLength = line.size() - shownAt;
        line += " (" + std::to_string(count) + ")";
        const TLineKind verdict = AppendCheckMark(line, received);
        line += AnswerReceived(received, false, lastUs);
        AddRxLine(line, verdict, {received, shownAt, shownLength});
        LogAnswers();
        return;
    }
    framer_.Add({received, at.monotonicUs, lastUs, times.earliest.monoUs}, messages);
    AddMessages(messages);
    if (messages.empty() && !rxFrame_->isActive()) {
        // No line yet, but the counts in sight move once a frame all the same.
        ShowLineState();
        rxFrame_->start();
    }
    ArmFramingTimer();
}

void Tfrmmain::ArmFramingTimer() {
    const std::optional<std::int64_t> due = framer_.DueUs();
    if (!due) {
        gapTimer_->stop();
        return;
    }
    const std::int64_t leftUs = std::max<std::int64_t>(*due - timeline::Now().monotonicUs, 0);
    const int ms = static_cast<int>(std::min<std::int64_t>((leftUs + 999) / 1000, 1 << 30));
    // Armed once per message, not per read: a flood restarts no timer. Only
    // a due time earlier than the timer's (a message after a held piece)
    // starts it again.
    if (!gapTimer_->isActive() || gapTimer_->remainingTime() > ms)
        gapTimer_->start(ms);
}

void Tfrmmain::GapTimeout() {
    // Bytes the device already holds arrived before this timer ran, though
    // their hand-over has not come yet (a busy machine delays the port's
    // event thread): they are taken first, with the device's own times, so
    // that a message is cut only at a gap the device saw and never by this
    // timer's clock.
    std::int64_t quietUs = timeline::Now().monotonicUs;
    try {
        if (framer_.Pending() && C1->Connected() && !C1->LineLost()) {
            Text received;
            const std::int32_t got = C1->ReadWaiting(received, kTakeAtMost);
            const cport::TransferTimes times = C1->LastReadTimes();
            // Quiet only as far as the device saw it; a read that could not
            // tell leaves the message open and the timer looks again.
            quietUs = times.quiet.Valid() ? times.quiet.monoUs : 0;
            if (got > 0) {
                CaptureReceived(received);
                PlotReceived(received, C1->LastReadTimes());
                receivedBytes_ += received.size();
                ReceiveFramed(received, got, times);
            }
        }
    } catch (const std::exception& error) {
        // Shown as a read error of an arrival is; what was gathered still closes.
        ShowDefaultError(error);
    }
    std::vector<timeline::Message> messages;
    framer_.Poll(quietUs, messages);
    AddMessages(messages);
    ArmFramingTimer();
}

void Tfrmmain::AddMessages(const std::vector<timeline::Message>& messages) {
    for (const timeline::Message& message : messages) {
        // The count is the message's own.
        Text line = Timestamp(message.firstUs);
        const std::size_t shownAt = line.size();
        line += DisplayBytes(message.bytes);
        const std::size_t shownLength = line.size() - shownAt;
        line += " (" + std::to_string(message.bytes.size()) + ")";
        const TLineKind verdict = AppendCheckMark(line, message.bytes);
        line += AnswerReceived(message.bytes, true, message.lastUs);
        AddRxLine(line, verdict, {message.bytes, shownAt, shownLength});
        LogAnswers();
    }
}

void Tfrmmain::CloseMessage() {
    std::vector<timeline::Message> messages;
    framer_.Close(messages);
    AddMessages(messages);
    if (gapTimer_ != nullptr)
        gapTimer_->stop();
}

void Tfrmmain::LogSent(const std::string& bytes, const timeline::Moment& at) {
    // A send ends the answer gathered so far: it goes in first, in order.
    CloseMessage();
    Text line = Timestamp(at.monotonicUs);
    line += kSentMark;
    const std::size_t shownAt = line.size();
    line += DisplayBytes(bytes);
    const std::size_t shownLength = line.size() - shownAt;
    line += " (" + std::to_string(bytes.size()) + ")";
    AddRxLine(line, TLineKind::Sent, {bytes, shownAt, shownLength});
}

void Tfrmmain::LogEvent(const std::string& what, const timeline::Moment& at) {
    if (!options_.logEvents)
        return;
    Text line = Timestamp(at.monotonicUs);
    line += kEventMark;
    line += what;
    AddRxLine(line, TLineKind::Event);
}

void Tfrmmain::StartTimeline() {
    const timeline::Moment now = timeline::Now();
    startUs_ = now.monotonicUs;
    previousLineUs_ = now.monotonicUs;
    receivedBytes_ = 0;
    sentBytes_ = 0;
    rateSinceUs_ = now.monotonicUs;
    rateBytes_ = 0;
    rate_ = 0;
    kernelCounts_ = C1->Counters().kernel;
    errorsCounted_ = false;
    tickLostDevice_ = false;
    frameErrors_ = parityErrors_ = overruns_ = breaks_ = rings_ = 0;
    // The automatic gap follows the line's settings as Start opens it.
    framer_ = timeline::Framer(CurrentRule());
    LogEvent("port opened: " + C1->Port(), now);
}

void Tfrmmain::EndTimeline() {
    portClosing_ = true;
    CloseMessage();
    LogEvent("port closed", timeline::Now());
}

}  // namespace tarvik
