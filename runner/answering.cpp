#include "runner/answering.h"

#include <QTimer>

#include "runner/line_session.h"
#include "serial/port/com_port.h"

namespace tarvik::runner {

Answering::Answering(LineSession& session, sequences::SequenceSet set)
    : session_(session), set_(std::move(set)), matcher_(set_), functions_(set_.rules.size(), -1) {
    session_.SetOnReceived(
        [this](std::string_view bytes, const Stamp& lastByte) { Received(bytes, lastByte); });
    session_.SetBetweenWaits([this] { RunQueued(); });
}

Answering::~Answering() {
    session_.SetOnReceived({});
    session_.SetBetweenWaits({});
}

const sequences::SendSequence& Answering::Send(const std::string& name) const {
    if (const sequences::SendSequence* send = set_.FindSend(name))
        return *send;
    std::string known;
    for (const sequences::SendSequence& send : set_.sends)
        known += (known.empty() ? "" : ", ") + send.name;
    throw ERunAborted("No send sequence is named '" + name +
                      "' (known: " + (known.empty() ? "none" : known) + ")");
}

void Answering::AddRule(const std::string& pattern, const std::string& answer, int function) {
    if (!answer.empty())
        Send(answer);
    sequences::ReceiveRule rule;
    rule.name = "on_receive " + pattern;
    rule.pattern = pattern;
    rule.answer = answer;
    rule.count = true;
    matcher_.Add(rule);
    functions_.push_back(answer.empty() ? function : -1);
}

void Answering::Received(std::string_view bytes, const Stamp& lastByte) {
    if (matcher_.Size() == 0)
        return;
    matched_.clear();
    matcher_.MatchStream(bytes, matched_);
    for (sequences::RuleMatch& match : matched_) {
        const sequences::ReceiveRule& rule = matcher_.Rule(match.rule);
        if (rule.mark)
            session_.Log().Event("rule " + rule.name, lastByte);
        if (functions_[match.rule] >= 0) {
            queued_.push_back({functions_[match.rule], std::move(match.bytes)});
            continue;
        }
        if (rule.answer.empty())
            continue;
        const sequences::SendSequence& send = *set_.FindSend(rule.answer);
        if (rule.delayMs == 0) {
            Answer(match.rule, send, lastByte, send.repeat);
        } else {
            QTimer::singleShot(rule.delayMs, Qt::PreciseTimer, &timers_,
                               [this, index = match.rule, &send, lastByte] {
                                   Answer(index, send, lastByte, send.repeat);
                               });
        }
    }
}

void Answering::Answer(std::size_t rule, const sequences::SendSequence& send, const Stamp& lastByte,
                       int repeatsLeft) {
    // Runs in a report step or a timer: an error ends the run through the
    // session, never through the port's thread.
    try {
        session_.Send(sequences::EncodeSend(send));
        const cport::LineTime handed = session_.Port().LastWriteTimes().first;
        // A repeat's response time would count its interval: the first answer's alone.
        if (repeatsLeft == send.repeat)
            matcher_.Answered(rule, handed.Valid() ? handed.monoUs - lastByte.monoUs : -1);
    } catch (const ERunStopped&) {
        return;
    } catch (const std::exception& error) {
        session_.Abort(error.what());
        return;
    }
    if (repeatsLeft > 1) {
        QTimer::singleShot(send.intervalMs, Qt::PreciseTimer, &timers_,
                           [this, rule, &send, lastByte, repeatsLeft] {
                               Answer(rule, send, lastByte, repeatsLeft - 1);
                           });
    }
}

void Answering::RunQueued() {
    std::vector<Call> calls;
    calls.swap(queued_);
    for (const Call& call : calls) {
        if (onFunction_)
            onFunction_(call.function, call.bytes);
    }
}

std::vector<RuleResults> Answering::Figures() const {
    std::vector<RuleResults> figures;
    for (std::size_t i = 0; i < matcher_.Size(); ++i) {
        const sequences::RuleFigures& f = matcher_.Figures(i);
        figures.push_back({matcher_.Rule(i).name, f.matched, f.answered, f.responseUs});
    }
    return figures;
}

}  // namespace tarvik::runner
