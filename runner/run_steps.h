#pragma once
// The steps a history or a script is made of, each judged and counted:
// send, expect, sleep, and a history line sent and answered. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runner/line_session.h"
#include "runner/pattern.h"
#include "runner/results.h"
#include "transfer/engine.h"

namespace tarvik::runner {

class RunSteps {
  public:
    RunSteps(LineSession& session, Results& results) : session_(session), results_(results) {}

    LineSession& Session() { return session_; }

    // Sends the bytes and remembers when the write completed: the next
    // expect's response time counts from there.
    void Send(std::string_view bytes);

    // Waits up to `timeoutMs` for the pending bytes to match the pattern from
    // their start, and counts the outcome under `exchange`: passed (the
    // matched bytes are taken; the response time runs from the last send's
    // completion, or from the expect's start when nothing was sent since the
    // last expect, to the arrival of the byte that completed the match),
    // failed at the first byte that cannot match, or timed out. After a
    // failure or a time-out every pending byte is dropped, so the next
    // exchange starts clean. Returns the reason of a failure, or nothing.
    std::optional<std::string> Expect(const Pattern& pattern, const std::string& exchange,
                                      std::int64_t timeoutMs);

    void Sleep(std::int64_t ms);

    // Runs a file transfer over the session's port and counts it under
    // `exchange`: passed, timed out (the far end did not answer, a prompt
    // did not come) or failed. Its progress goes to standard error when that
    // is a terminal. Returns the reason of a failure, or nothing.
    std::optional<std::string> Transfer(const transfer::Job& job, const std::string& exchange);

    // A history line: sends its bytes and waits `delayMs` before the next.
    // It passes when something arrives within that time (the response time
    // is to that first arrival) and times out otherwise; with no delay it
    // passes once sent.
    void HistoryLine(const std::string& line, std::string_view bytes, std::int64_t delayMs);

  private:
    LineSession& session_;
    Results& results_;
    std::optional<Stamp> lastSend_;
};

}  // namespace tarvik::runner
