#include "runner/session_line.h"

#include "runner/line_session.h"

namespace tarvik::runner {

void SessionLine::Write(std::string_view bytes) { session_.Send(bytes); }

std::size_t SessionLine::Read(std::string& into, std::size_t max,
                              transfer::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                          deadline - transfer::Clock::now()).count();
    session_.WaitUntil([this] { return interrupted_ || !session_.Pending().empty(); },
                       NowStamp().monoUs + std::max<std::int64_t>(left, 0));
    if (interrupted_)
        return 0;
    const std::size_t count = std::min(max, session_.Pending().size());
    into.append(session_.Pending().substr(0, count));
    session_.Take(count);
    return count;
}

}  // namespace tarvik::runner
