#pragma once
// A Line over a file descriptor (a pty or a pipe pair), for the engine's
// tests and benchmarks and any face that owns a raw descriptor. Waits with
// ppoll on the descriptor and an eventfd for interrupts; no thread of its own.

#include "transfer/line.h"

namespace tarvik::transfer {

class FdLine : public Line {
  public:
    // Not owned: the descriptors stay open after the line is gone. `in` and
    // `out` may be the same descriptor. Blocking or not, both work.
    FdLine(int in, int out);
    ~FdLine() override;
    FdLine(const FdLine&) = delete;
    FdLine& operator=(const FdLine&) = delete;

    void Write(std::string_view bytes) override;
    std::size_t Read(std::string& into, std::size_t max, Clock::time_point deadline) override;
    void Interrupt() override;
    void ClearInterrupt() override;

  private:
    int in_;
    int out_;
    int interrupt_;
};

}  // namespace tarvik::transfer
