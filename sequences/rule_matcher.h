#pragma once
// The receive rules of a set at work: what arrives is matched against the
// enabled rules, either message by message (the window's framed messages:
// a rule matches a message that begins with its pattern) or as a stream (one
// line per arrival: the bytes not yet matched, as an expect takes them).
// Each rule keeps its figures: matched, answered, response times. Qt-free;
// main thread (patterns are compiled through the codec).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/pattern.h"
#include "sequences/sequence_set.h"

namespace tarvik::sequences {

struct RuleFigures {
    std::uint64_t matched = 0;
    std::uint64_t answered = 0;
    std::vector<std::int64_t> responseUs;  // last byte's arrival to the answer handed over
};

// One match: the rule and the bytes it matched.
struct RuleMatch {
    std::size_t rule;
    std::string bytes;
};

class RuleMatcher {
  public:
    RuleMatcher() = default;
    // Compiles the set's rules (the set was checked as it loaded; throws
    // runner::EPattern for a rule made elsewhere that does not parse).
    explicit RuleMatcher(const SequenceSet& set);

    std::size_t Size() const { return rules_.size(); }
    // Adds a rule after the set's; its index. Throws runner::EPattern for a
    // pattern or check value it cannot use.
    std::size_t Add(const ReceiveRule& rule);
    const ReceiveRule& Rule(std::size_t index) const { return rules_[index].rule; }
    void SetEnabled(std::size_t index, bool enabled) { rules_[index].rule.enabled = enabled; }
    bool AnyEnabled() const;

    // The rules that match one whole message, in the set's order; each is
    // counted as matched.
    void MatchMessage(std::string_view message, std::vector<RuleMatch>& matched);

    // Adds the bytes to those not yet matched and gives the rules matched
    // by them, in order of arrival (one index per match). At each point the
    // rules whose pattern matches there take the bytes (the longest of
    // them); bytes no rule can match are passed over; bytes that may still
    // become a match wait for the next arrival.
    void MatchStream(std::string_view bytes, std::vector<RuleMatch>& matched);
    // Forgets the bytes waiting for a match (a new session).
    void ResetStream() { stream_.clear(); }

    const RuleFigures& Figures(std::size_t index) const { return rules_[index].figures; }
    void Answered(std::size_t index, std::int64_t responseUs);
    void ClearFigures();

  private:
    struct Compiled {
        ReceiveRule rule;
        runner::Pattern pattern;
        RuleFigures figures;
    };
    std::vector<Compiled> rules_;
    std::string stream_;
};

}  // namespace tarvik::sequences
