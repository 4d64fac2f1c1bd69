#pragma once
// A port whose device side only records what it was asked to do, so the
// settings model's rules can be checked without a device.

#include <string>
#include <vector>

#include "serial/error/com_error.h"
#include "serial/port/com_port.h"

namespace cport::testutil {

class CountingPort : public TComPort {
  public:
    using TComPort::TComPort;

    // What reached the device side, in order: "open NAME", "close",
    // "dcb", "timeouts", "buffer".
    std::vector<std::string> calls;
    bool failOpen = false;      // Open raises code 1 with number 2
    bool failApplyDCB = false;  // ApplyDCB raises code 7 with number 22

    void Open() override {
        if (Connected())
            return;
        calls.push_back("open " + Port());
        if (failOpen)
            throw EComPort(ecOpen, 2);
        SetConnectedState(true);
    }
    void Close() override {
        if (!Connected())
            return;
        calls.push_back("close");
        SetConnectedState(false);
    }

    // Opens and forgets that call, so a test sees only what follows.
    void OpenQuietly() {
        SetConnected(true);
        calls.clear();
    }

  protected:
    void ApplyDCB() override {
        calls.push_back("dcb");
        if (failApplyDCB)
            throw EComPort(ecSetState, 22);
    }
    void ApplyTimeouts() override { calls.push_back("timeouts"); }
    void ApplyBuffer() override { calls.push_back("buffer"); }
};

}  // namespace cport::testutil
