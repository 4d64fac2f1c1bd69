#pragma once
// The run's port as the transfer engine's line: writes go through the
// session (timed, in the transcript), reads take the session's pending bytes
// while its waits serve the event loop. Main thread: the engine runs on it,
// as every other step of a run does.

#include "transfer/line.h"

namespace tarvik::runner {

class LineSession;

class SessionLine : public transfer::Line {
  public:
    explicit SessionLine(LineSession& session) : session_(session) {}

    void Write(std::string_view bytes) override;
    std::size_t Read(std::string& into, std::size_t max,
                     transfer::Clock::time_point deadline) override;
    void Interrupt() override { interrupted_ = true; }
    void ClearInterrupt() override { interrupted_ = false; }

  private:
    LineSession& session_;
    bool interrupted_ = false;
};

}  // namespace tarvik::runner
