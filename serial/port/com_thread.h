#pragma once
// TComThread: waits for a port's communications events on a thread of its own
// and hands each wake-up to the port's report steps, on the thread the port's
// SyncMethod names.
//
// The body blocks in one wait on two events (the stop signal and the wait
// request's signal) with no time limit: an idle port costs no wake-ups, and a
// stop request wins over a pending wake-up.
//
// Threads: created and destroyed by the port on the main thread (Open and
// Close). The body runs on the thread itself; under smThreadSync it runs the
// report steps on the main thread through a synchronized call and waits for
// them, under smWindowSync it sends one message per event to the port's
// notification window, under smNone it runs them itself.

#include <atomic>

#include "base/thread.h"
#include "serial/port/com_types.h"
#include "serial/device/comm_records.h"

namespace cport {

namespace device {
class ComDevice;
}
class TCustomComPort;

class TComThread : public tarvik::TThread {
  public:
    // Main thread, with the port open. Creates the stop signal, sets the
    // device's event mask from the port's Events as they are now, and starts
    // the thread at normal priority. Throws std::system_error when the stop
    // signal or the thread cannot be made; nothing is left running then.
    explicit TComThread(TCustomComPort& port);
    // Main thread: RequestStop, then waits for the thread to end, serving
    // its pending hand-over meanwhile (so a wake-up already on its way is
    // reported, with the port still connected). The thread is not owned by
    // anyone else; the port must outlive this wait.
    ~TComThread() override;

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Manual-reset, created not signalled; setting it ends the body. Closed by
    // the body when it ends.
    device::ComHandle StopSignal() const { return stopSignal_; }
    // The events of the latest wake-up. Written by the thread before it hands
    // them on; read on the main thread only while the thread waits for it.
    TComEvents LastEvents() const { return lastEvents_; }

    // Any thread: sets the stop signal and gives up the rest of the time slice.
    void RequestStop();
    // True once RequestStop has run. Any thread.
    bool StopRequested() const { return stopRequested_.load(); }
    // Main thread: RequestStop, then waits for the thread as the destructor
    // does. Lets the port keep this object reachable while it waits.
    void StopAndWait();

  protected:
    void Execute() override;

  private:
    // Hands LastEvents to the report steps by the port's SyncMethod.
    void DeliverEvents();
    // Runs the report step of each event in LastEvents, in the fixed order.
    void ProcessEvents();
    // Sends each event in LastEvents to the notification window, in the
    // fixed order; each send returns once the window procedure released it.
    void SendEventMessages();

    TCustomComPort& port_;
    // The port's device, which outlives the port (and so this object).
    device::ComDevice& device_;
    device::ComHandle stopSignal_ = device::INVALID_HANDLE_VALUE;
    TComEvents lastEvents_;
    // The wake-up also brought line events (EV_LINEEVENT).
    bool lineNews_ = false;
    std::atomic<bool> stopRequested_{false};
};

// The order in which the events of one wake-up are reported.
inline constexpr TComEvent kReportOrder[kComEventCount] = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

// The notification window's message for one event; its first parameter is
// the event's mask bit, the second 0.
inline constexpr std::uint32_t CM_COMEVENT = 0x0401;  // WM_USER + 1

}  // namespace cport
