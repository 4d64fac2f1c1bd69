#include "runner/session_line.h"

#include "runner/line_session.h"
#include "transfer/transfer_error.h"

namespace tarvik::runner {

namespace {

// With reconnect on, the session would wait for the line's return; a
// transfer cannot take up where it was, so it ends here and the port comes
// back for the steps after it.
void FailIfLost(const LineSession& session) {
    if (session.LineLost())
        throw transfer::ETransfer(transfer::TransferCode::kLine,
                                  "The line was lost during the transfer");
}

}  // namespace

void SessionLine::Write(std::string_view bytes) {
    FailIfLost(session_);
    try {
        session_.Send(bytes);
    } catch (const ERunAborted& error) {
        // The write can fail before the port has reported the loss.
        if (!session_.Reconnects() || !session_.IsOpen())
            throw;
        throw transfer::ETransfer(transfer::TransferCode::kLine,
                                  std::string("The line was lost during the transfer (") +
                                      error.what() + ")");
    }
}

std::size_t SessionLine::Read(std::string& into, std::size_t max,
                              transfer::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                          deadline - transfer::Clock::now()).count();
    session_.WaitUntil(
        [this] { return interrupted_ || !session_.Pending().empty() || session_.LineLost(); },
        NowStamp().monoUs + std::max<std::int64_t>(left, 0));
    if (interrupted_)
        return 0;
    if (session_.Pending().empty())
        FailIfLost(session_);
    const std::size_t count = std::min(max, session_.Pending().size());
    into.append(session_.Pending().substr(0, count));
    session_.Take(count);
    return count;
}

}  // namespace tarvik::runner
