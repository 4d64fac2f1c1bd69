#pragma once
// The run's receive rules at work: the sequence set's rules, and those a
// script adds with on_receive, matched against every block the session
// reads (as a stream: the bytes not yet matched, as an expect takes them).
// A rule's answer is sent from the arrival's report step at once, or after
// its delay by a timer; a script's function is run where the script waits,
// outside the report step. Main thread.

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runner/results.h"
#include "runner/transcript.h"
#include "sequences/rule_matcher.h"
#include "sequences/sequence_set.h"

namespace tarvik::runner {

class LineSession;

class Answering {
  public:
    // Hooks itself into the session's arrivals and waits; `set` may be empty.
    Answering(LineSession& session, sequences::SequenceSet set);
    ~Answering();
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;

    const sequences::SequenceSet& Set() const { return set_; }
    // The send sequence of that name; ERunAborted (naming the known ones) when none.
    const sequences::SendSequence& Send(const std::string& name) const;

    // A rule from a script: its pattern answered with the send sequence
    // `answer`, or, with `answer` empty, by calling the script's function
    // `function` (an id the script keeps) with the matched bytes. Throws
    // EPattern for a bad pattern, ERunAborted for an unknown sequence.
    void AddRule(const std::string& pattern, const std::string& answer, int function);
    // Runs a script's function; set by the script.
    void SetOnFunction(std::function<void(int function, const std::string& bytes)> onFunction) {
        onFunction_ = std::move(onFunction);
    }

    // Per rule, in order: matched, answered, response times.
    std::vector<RuleResults> Figures() const;

  private:
    void Received(std::string_view bytes, const Stamp& lastByte);
    void Answer(std::size_t rule, const sequences::SendSequence& send, const Stamp& lastByte,
                int repeatsLeft);
    void RunQueued();

    LineSession& session_;
    sequences::SequenceSet set_;
    sequences::RuleMatcher matcher_;
    std::vector<int> functions_;  // per rule: the script's function, or -1
    std::vector<sequences::RuleMatch> matched_;
    struct Call {
        int function;
        std::string bytes;
    };
    std::vector<Call> queued_;
    std::function<void(int, const std::string&)> onFunction_;
    QObject timers_;  // the delayed answers' context: none fires after the end
};

}  // namespace tarvik::runner
