#include "sequences/rule_matcher.h"

#include <algorithm>

namespace tarvik::sequences {

RuleMatcher::RuleMatcher(const SequenceSet& set) {
    rules_.reserve(set.rules.size());
    for (const ReceiveRule& rule : set.rules) Add(rule);
}

std::size_t RuleMatcher::Add(const ReceiveRule& rule) {
    runner::Pattern pattern = runner::ParsePattern(rule.pattern);
    if (!rule.check.empty())
        runner::AddCheck(pattern, runner::CheckValueNamed(rule.check));
    rules_.push_back({rule, std::move(pattern), {}});
    return rules_.size() - 1;
}

bool RuleMatcher::AnyEnabled() const {
    return std::any_of(rules_.begin(), rules_.end(),
                       [](const Compiled& c) { return c.rule.enabled; });
}

void RuleMatcher::MatchMessage(std::string_view message, std::vector<RuleMatch>& matched) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        Compiled& c = rules_[i];
        if (c.rule.enabled &&
            runner::Match(c.pattern, message).state == runner::MatchState::Matched) {
            ++c.figures.matched;
            matched.push_back({i, std::string(message.substr(0, c.pattern.Size()))});
        }
    }
}

void RuleMatcher::MatchStream(std::string_view bytes, std::vector<RuleMatch>& matched) {
    stream_.append(bytes);
    std::size_t at = 0;
    while (at < stream_.size()) {
        const std::string_view rest = std::string_view(stream_).substr(at);
        bool partial = false;
        std::size_t taken = 0;
        const std::size_t first = matched.size();
        for (std::size_t i = 0; i < rules_.size(); ++i) {
            Compiled& c = rules_[i];
            if (!c.rule.enabled)
                continue;
            switch (runner::Match(c.pattern, rest).state) {
                case runner::MatchState::Matched:
                    ++c.figures.matched;
                    matched.push_back({i, std::string(rest.substr(0, c.pattern.Size()))});
                    taken = std::max(taken, c.pattern.Size());
                    break;
                case runner::MatchState::Partial:
                    partial = true;
                    break;
                case runner::MatchState::Mismatch:
                    break;
            }
        }
        if (matched.size() > first) {
            at += taken;
        } else if (partial) {
            break;  // may still become a match
        } else {
            ++at;  // no rule starts here
        }
    }
    stream_.erase(0, at);
}

void RuleMatcher::Answered(std::size_t index, std::int64_t responseUs) {
    RuleFigures& figures = rules_[index].figures;
    ++figures.answered;
    if (responseUs >= 0)
        figures.responseUs.push_back(responseUs);
}

void RuleMatcher::ClearFigures() {
    for (Compiled& c : rules_) c.figures = {};
}

}  // namespace tarvik::sequences
