#include "runner/run_steps.h"

#include <unistd.h>

#include <cstdio>

#include "runner/session_line.h"
#include "transfer/transfer_error.h"

namespace tarvik::runner {


void RunSteps::Send(std::string_view bytes) {
    lastSend_ = session_.Send(bytes);
}

std::optional<std::string> RunSteps::Expect(const Pattern& pattern, const std::string& exchange,
                                            std::int64_t timeoutMs) {
    const Stamp start = NowStamp();
    const Stamp from = lastSend_.value_or(start);
    lastSend_.reset();
    MatchResult result;
    const bool judged = session_.WaitUntil(
        [&] {
            result = Match(pattern, session_.Pending());
            return result.state != MatchState::Partial;
        },
        start.monoUs + timeoutMs * 1000);
    if (judged && result.state == MatchState::Matched) {
        const Stamp at = session_.ArrivalOf(pattern.Size() - 1);
        session_.Take(pattern.Size());
        results_.Passed(exchange, std::max<std::int64_t>(at.monoUs - from.monoUs, 0));
        return std::nullopt;
    }
    const std::size_t got = session_.Pending().size();
    session_.Take(got);
    if (judged) {
        const std::string reason = "'" + pattern.text + "': " + result.reason;
        session_.Log().Event("expect failed: " + reason, NowStamp());
        results_.Failed(exchange, reason);
        return reason;
    }
    const std::string reason = "'" + pattern.text + "': " + std::to_string(got) + " of " +
                               std::to_string(pattern.Size()) + " bytes within " +
                               std::to_string(timeoutMs) + " ms";
    session_.Log().Event("expect timed out: " + reason, NowStamp());
    results_.TimedOut(exchange, reason);
    return reason;
}

std::optional<std::string> RunSteps::Transfer(const transfer::Job& job,
                                              const std::string& exchange) {
    using transfer::TransferCode;
    SessionLine line(session_);
    transfer::Engine engine(line);
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const auto show = [&](const transfer::Progress& p) {
        if (!terminal)
            return;
        std::fprintf(stderr, "\r%s: %llu", p.file.c_str(), static_cast<unsigned long long>(p.bytes));
        if (p.total > 0)
            std::fprintf(stderr, " of %llu", static_cast<unsigned long long>(p.total));
        std::fprintf(stderr, " bytes, %llu blocks, %llu retries, %s, %s left\033[K%s",
                     static_cast<unsigned long long>(p.blocks),
                     static_cast<unsigned long long>(p.retries),
                     transfer::FormatRate(p.rate).c_str(),
                     transfer::FormatSeconds(p.secondsLeft).c_str(), p.done ? "\n" : "");
    };
    const Stamp start = NowStamp();
    session_.Log().Event(transfer::Describe(job), start);
    try {
        const transfer::Outcome outcome = engine.Run(job, show);
        std::string note = "transfer done: " + std::to_string(outcome.figures.bytes) + " bytes, " +
                           std::to_string(outcome.figures.retries) + " retries";
        if (outcome.figures.endUnconfirmed)
            note += ", the end not confirmed by the receiver";
        session_.Log().Event(note, NowStamp());
        results_.Passed(exchange, NowStamp().monoUs - start.monoUs);
        lastSend_.reset();
        return std::nullopt;
    } catch (const transfer::ETransfer& error) {
        if (terminal)
            std::fputc('\n', stderr);
        const std::string reason = error.what();
        session_.Log().Event("transfer failed: " + reason, NowStamp());
        if (error.Code() == TransferCode::kNoAnswer || error.Code() == TransferCode::kWaitFor)
            results_.TimedOut(exchange, reason);
        else
            results_.Failed(exchange, reason);
        return reason;
    }
}

void RunSteps::Sleep(std::int64_t ms) {
    session_.WaitUntil([] { return false; }, NowStamp().monoUs + ms * 1000);
}

void RunSteps::HistoryLine(const std::string& line, std::string_view bytes, std::int64_t delayMs) {
    const std::uint64_t before = session_.Arrivals();
    const Stamp sent = session_.Send(bytes);
    lastSend_.reset();
    if (delayMs <= 0) {
        results_.Passed(line, -1);
        return;
    }
    const std::int64_t end = sent.monoUs + delayMs * 1000;
    const bool answered = session_.WaitUntil([&] { return session_.Arrivals() != before; }, end);
    // What arrives first after the send answers it (the line's own echo or
    // reply, as the window would show it next).
    const Stamp answer = session_.LastArrival();
    session_.WaitUntil([] { return false; }, end);
    session_.Take(session_.Pending().size());
    if (answered) {
        results_.Passed(line, std::max<std::int64_t>(answer.monoUs - sent.monoUs, 0));
    } else {
        results_.TimedOut(line, "no answer within " + std::to_string(delayMs) + " ms");
    }
}

}  // namespace tarvik::runner
