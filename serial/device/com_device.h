#pragma once
// The serial device and synchronisation services the port component uses, with
// the contract of the Windows communications functions of the same names: the
// port calls these and nothing else, one call per step. Implementations: the
// POSIX one over termios/epoll (PosixComDevice) and a recording fake for tests
// (FakeComDevice).
//
// Failures return false (or INVALID_HANDLE_VALUE / WAIT_FAILED) and leave a
// number for GetLastError: a Linux errno value, or ERROR_IO_PENDING (997) for
// a transfer that was started and goes on. The number belongs to the calling
// thread, so the event thread and the main thread never see each other's.
//
// Beside the contract, one addition of this system's own: the time line (the
// times of transfers, line events, counters; see time_line.h). With the
// EV_LINEEVENT bit left out of the mask, a device behaves exactly as the
// contract says.
//
// Threads: every function may be called from any thread; a device handle may
// carry one read, one write and one WaitCommEvent at the same time, each on
// its own OVERLAPPED. Buffers, OVERLAPPED blocks and mask places handed to a
// transfer stay owned by the caller and must stay valid until it has ended
// (its event is set); PurgeComm with the abort flags ends reads and writes at
// once, SetCommMask ends a pending WaitCommEvent.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/device/comm_records.h"
#include "serial/device/time_line.h"

namespace cport::device {

// The descriptors a thread serving an event loop of its own watches in place
// of blocking in WaitForMultipleObjects (ComDevice::BeginEventWatch).
struct EventWatch {
    int eventFd = -1;   // readable while the event is set, whoever set it
    int deviceFd = -1;  // readable when the device has news a waiter must act on
};

class ComDevice {
  public:
    virtual ~ComDevice() = default;

    // Opens a port exclusively for overlapped transfers. "COMn" names
    // /dev/ttyS<n-1>, a name without "/" names /dev/<name>, a path is used as
    // it stands. A port already open (here or in another program) is refused.
    virtual ComHandle CreateFileA(const std::string& portName) = 0;
    // Closes a device (ending its transfers, restoring the terminal settings
    // found at open) or an event.
    virtual bool CloseHandle(ComHandle handle) = 0;

    // Input and output queue sizes in bytes (0: the default, 4096).
    virtual bool SetupComm(ComHandle device, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool SetCommState(ComHandle device, const DCB& dcb) = 0;
    virtual bool SetCommTimeouts(ComHandle device, const COMMTIMEOUTS& timeouts) = 0;
    // EV_* bits; a pending WaitCommEvent ends with mask 0.
    virtual bool SetCommMask(ComHandle device, std::uint32_t mask) = 0;

    // Overlapped: true when done at once (the event is set as well), false
    // with ERROR_IO_PENDING while it goes on, false with another number when
    // it failed. *eventMask receives the events that ended the wait.
    virtual bool WaitCommEvent(ComHandle device, std::uint32_t* eventMask,
                               OVERLAPPED* overlapped) = 0;
    // Overlapped; *done receives the bytes moved at once (0 while pending).
    virtual bool ReadFile(ComHandle device, void* buffer, std::uint32_t count, std::uint32_t* done,
                          OVERLAPPED* overlapped) = 0;
    virtual bool WriteFile(ComHandle device, const void* buffer, std::uint32_t count,
                           std::uint32_t* done, OVERLAPPED* overlapped) = 0;
    // wait must be false (the port never waits here): ERROR_IO_INCOMPLETE
    // while the transfer goes on, the transfer's errno if it failed.
    virtual bool GetOverlappedResult(ComHandle device, OVERLAPPED* overlapped,
                                     std::uint32_t* transferred, bool wait) = 0;

    // PURGE_* flags: the abort flags end pending reads/writes at once
    // (ECANCELED), the clear flags empty the queues.
    virtual bool PurgeComm(ComHandle device, std::uint32_t flags) = 0;
    // CE_* bits gathered since the last call (then cleared), queue counts.
    virtual bool ClearCommError(ComHandle device, std::uint32_t* errors, COMSTAT* status) = 0;
    // MS_* bits; a device without modem lines (a pseudo-terminal) reports 0.
    virtual bool GetCommModemStatus(ComHandle device, std::uint32_t* modemStatus) = 0;

    // SETDTR, CLRDTR, SETRTS, CLRRTS switch an output line at once;
    // SETBREAK holds the line in break until CLRBREAK. A device without modem
    // lines or break (a pseudo-terminal) fails with ENOTTY; other functions
    // fail with EINVAL.
    virtual bool EscapeCommFunction(ComHandle device, std::uint32_t function) = 0;
    // SERIAL_DTR_STATE and SERIAL_RTS_STATE as the driver holds them now
    // (ENOTTY without modem lines).
    virtual bool GetCommOutputLines(ComHandle device, std::uint32_t* lines) = 0;

    // Manual-reset events.
    virtual ComHandle CreateEventA(bool manualReset, bool initialState) = 0;
    virtual bool SetEvent(ComHandle event) = 0;
    virtual bool ResetEvent(ComHandle event) = 0;
    // timeoutMs in milliseconds or INFINITE. Returns WAIT_OBJECT_0 + index of
    // the set event (the lowest index when several are set), WAIT_TIMEOUT or
    // WAIT_FAILED. Waiting for all is not offered (the port never does).
    virtual std::uint32_t WaitForSingleObject(ComHandle event, std::uint32_t timeoutMs) = 0;
    virtual std::uint32_t WaitForMultipleObjects(std::uint32_t count, const ComHandle* events,
                                                 bool waitAll, std::uint32_t timeoutMs) = 0;

    // The number of the calling thread's last failure.
    virtual int GetLastError() = 0;

    // --- The time line (no counterpart in the contract).
    // The times of the last read (write false) or write (write true) that
    // completed on the device; false with ENOENT when none has since open.
    virtual bool GetTransferTimes(ComHandle device, bool write, TransferTimes* times) = 0;
    // Moves the line events gathered since the last call into *events,
    // oldest first. Events are gathered only while the mask holds
    // EV_LINEEVENT; a WaitCommEvent then ends with that bit when some wait.
    virtual bool TakeLineEvents(ComHandle device, std::vector<LineEvent>* events) = 0;
    // Bytes received and sent since open, and the kernel's line counts.
    virtual bool GetLineCounters(ComHandle device, LineCounters* counters) = 0;

    // --- Waiting from an event loop (no counterpart in the contract), for a
    // thread that must keep serving a loop of its own rather than block in
    // WaitForMultipleObjects. BeginEventWatch makes the calling thread a
    // watcher of `event`, which a transfer on `device` will set, and gives
    // the two descriptors to add to its loop. Whenever one is readable, or
    // the time GetWaitDue gives has come, the watcher calls
    // WaitForSingleObject(event, 0): that acts on the device's news as a
    // blocking waiter would (and so quiets its descriptor) while a transfer
    // on the event is pending; with none pending, leave the device's
    // descriptor out of the loop, as nothing would quiet it. Each successful
    // BeginEventWatch is paired with one EndEventWatch on the same event.
    // False where watching is not offered (the fake device): wait as the
    // contract has it then.
    virtual bool BeginEventWatch(ComHandle event, ComHandle device, EventWatch* watch) {
        (void)event;
        (void)device;
        *watch = {};
        return false;
    }
    virtual bool EndEventWatch(ComHandle event) {
        (void)event;
        return false;
    }
    // How long until the device must be acted on without news (a time-out, a
    // drain check, input still held by the driver): µs, or -1 for never.
    virtual bool GetWaitDue(ComHandle device, std::int64_t* dueInUs) {
        (void)device;
        *dueInUs = -1;
        return false;
    }

    // Who serves a network port: the signature an RFC 2217 server sent
    // (printable ASCII). False with ENOENT when there is none, as for every
    // local device.
    virtual bool GetServerSignature(ComHandle device, std::string* signature) {
        (void)device;
        signature->clear();
        return false;
    }
};

}  // namespace cport::device
