#pragma once
// TComThread: waits for a port's communications events on a thread of its own
// and hands each wake-up to the port's report steps.

#include "base/thread.h"

namespace cport {

class TCustomComPort;

class TComThread : public tarvik::TThread {
  public:
    explicit TComThread(TCustomComPort& port) : port_(port) {}
    ~TComThread() override { TerminateAndWait(); }

  protected:
    void Execute() override {}

  private:
    TCustomComPort& port_;
};

}  // namespace cport
