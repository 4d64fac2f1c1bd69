#pragma once
// One open serial device on Linux: the descriptor, the settings found at open,
// the input queue, the pending transfers and the events seen. It has no
// thread of its own for data: whoever starts a transfer, queries it or waits
// for one of its events moves it on (Service). The lock is held only for
// non-blocking work.
//
// Results are 0, ERROR_IO_PENDING, or an errno value.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/device/arrival_marks.h"
#include "serial/device/byte_queue.h"
#include "serial/device/comm_records.h"
#include "serial/device/comm_timeouts.h"
#include "serial/device/input_filter.h"
#include "serial/device/kernel_line.h"
#include "serial/device/modem_watcher.h"
#include "serial/device/port_lock.h"
#include "serial/device/time_line.h"

namespace cport::device {

class PosixEvent;
namespace net {
class NetLine;
struct NetAddress;
}  // namespace net

class PosixPort : public std::enable_shared_from_this<PosixPort> {
  public:
    static constexpr std::uint32_t kDefaultQueue = 4096;

    // nullptr and *error on failure.
    static std::shared_ptr<PosixPort> Open(const std::string& path, int* error);
    // A port on the network (posix_port_net.cpp): connects and, for RFC 2217,
    // negotiates the COM-PORT-OPTION within their time limits.
    static std::shared_ptr<PosixPort> OpenNetwork(const net::NetAddress& address, int* error);
    ~PosixPort();
    PosixPort(const PosixPort&) = delete;
    PosixPort& operator=(const PosixPort&) = delete;

    // Ends every transfer (ECANCELED), puts the settings found at open back,
    // releases the device. Always succeeds.
    void Close();

    int SetupComm(std::uint32_t inQueue, std::uint32_t outQueue);
    int SetCommState(const DCB& dcb);
    int SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    int SetCommMask(std::uint32_t mask);
    int WaitCommEvent(std::uint32_t* mask, OVERLAPPED* ov, std::shared_ptr<PosixEvent> event);
    int ReadFile(void* buffer, std::uint32_t count, std::uint32_t* done, OVERLAPPED* ov,
                 std::shared_ptr<PosixEvent> event);
    int WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* done, OVERLAPPED* ov,
                  std::shared_ptr<PosixEvent> event);
    int PurgeComm(std::uint32_t flags);
    int ClearCommError(std::uint32_t* errors, COMSTAT* status);
    int GetCommModemStatus(std::uint32_t* status);
    // Output lines and break (posix_port_lines.cpp). ENOTTY on a device
    // without modem lines; on a pseudo-terminal also for break, which its
    // driver would accept and ignore.
    int EscapeCommFunction(std::uint32_t function);
    int GetCommOutputLines(std::uint32_t* lines);
    // Moves the transfer on without blocking, then reads its state.
    int OverlappedResult(OVERLAPPED* ov, std::uint32_t* transferred);

    // The time line (port_time_line.cpp).
    int GetTransferTimes(bool write, TransferTimes* times);
    int TakeLineEvents(std::vector<LineEvent>* events);
    int GetLineCounters(LineCounters* counters);
    // ENOENT unless an RFC 2217 server sent one (posix_port_net.cpp).
    int ServerSignature(std::string* signature);

    // For waiters: the descriptor that becomes readable when the device has
    // news (edge-triggered: it stays quiet while bytes it announced are
    // unread), the next moment a time-out or drain check falls due, and the
    // non-blocking step that acts on both.
    int WaitFd() const { return epollFd_; }
    std::optional<SteadyClock::time_point> NextDeadline();
    void Service();

  private:
    struct ReadOp {
        OVERLAPPED* ov;
        std::uint8_t* buffer;
        std::uint32_t count;
        std::uint32_t got;
        ReadRule rule;
        SteadyClock::time_point start;
        SteadyClock::time_point lastByte;
        std::shared_ptr<PosixEvent> event;
        TransferTimes times;
    };
    struct WriteOp {
        OVERLAPPED* ov;
        const std::uint8_t* buffer;
        std::uint32_t count;
        std::uint32_t done;
        std::optional<SteadyClock::time_point> deadline;
        std::shared_ptr<PosixEvent> event;
        TransferTimes times;
    };
    struct WaitOp {
        OVERLAPPED* ov;
        std::uint32_t* mask;
        std::shared_ptr<PosixEvent> event;
    };

    PosixPort(int fd, int epollFd);

    // The network port's side (posix_port_net.cpp).
    int NetSetCommState(const DCB& dcb);
    int NetEscape(std::uint32_t function);
    int NetPurge(std::uint32_t flags);
    std::uint32_t NetModemStatus() const;
    // Reads the connection (queueing its data) until done() or the time
    // limit; false when it ran out or the line went.
    template <typename Done>
    bool AwaitNet(Done done, std::chrono::milliseconds limit);
    // Sends what the option has queued; a broken connection hangs up.
    void FlushNet();
    // Line events and errors from the server's notifications.
    void TakeNetNews();
    // Reports settings the server left unconfirmed (once line events are
    // asked for).
    void SayUnconfirmed();

    // askDriver false: acts on what is known and queued, without asking or
    // reading the driver.
    void ServiceLocked(SteadyClock::time_point now, bool askDriver = true);
    void TakeEpollNews();
    void PullInput(SteadyClock::time_point now, bool fromDriver);
    // A pending read still takes bytes from the queue or the driver.
    bool ReadWantsMore() const;
    int ReadKernel(std::uint8_t* into, std::size_t room);
    // The driver may hold input and the queue has room for it.
    bool CanQueueMore() const;
    void QueueOneRead();
    void NoteReceived(std::size_t count, bool intoQueue, std::size_t queueBefore,
                      const std::uint8_t* data);
    void FeedRead(SteadyClock::time_point now);
    void PushWrite(SteadyClock::time_point now);
    void CheckTxEmpty(SteadyClock::time_point now);
    void CheckCounters();
    void CheckModemLines();
    void DeliverEvents();
    // `why`: a network port's reason, carried by the "line lost" event.
    void HangUp(std::string why = {});
    // Why a network connection ended, from the errno that ended it (0: the
    // server closed it; -1: the socket's own error); empty for a tty.
    std::string NetLoss(int error) const;
    void UpdateInterest();
    void Complete(OVERLAPPED* ov, const std::shared_ptr<PosixEvent>& event, int status,
                  std::uint32_t transferred);
    void StartWatcherIfWanted();
    // Lowers DTR and RTS again where the raw set-up at open raised them (a
    // rate leaving B0 does): only the line settings decide them.
    void KeepOutputLines(int linesBefore);
    // The time line: bytes a read took, with their arrival times.
    void NoteReadBytes(std::uint32_t count, const LineTime& first, const LineTime& last,
                       const LineTime& earliest);
    // A driver read asked at `asked` found nothing: every byte still to come
    // arrived after it.
    void SawDriverEmpty(const LineTime& asked);
    bool WantsLineEvents() const { return (mask_ & EV_LINEEVENT) != 0; }
    void AddLineEvent(LineEventKind kind, const LineTime& time, bool state, std::uint32_t count);
    // Line events for what changed between two readings of the counters.
    struct Counters;
    void NoteCounterChanges(const Counters& was, const Counters& now, const LineTime& time);

    std::mutex mutex_;
    int fd_;
    int epollFd_;
    bool closed_ = false;
    bool hungUp_ = false;
    // The driver may hold input not yet read: set by epoll news, cleared by a
    // read that found the driver empty.
    bool mayHaveInput_ = true;
    bool writable_ = true;
    bool wantOut_ = false;

    KernelLine saved_;
    bool pseudoTerminal_ = false;
    bool hasModemLines_ = false;
    bool hasCounters_ = false;
    struct Counters {
        int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0,
            bufOverrun = 0;
    } counters_;
    std::uint32_t lines_ = 0;  // TIOCM_* last seen
    bool breakHeld_ = false;   // SETBREAK without CLRBREAK yet: released at Close

    Counters countersAtOpen_;

    ByteQueue queue_{kDefaultQueue};
    ArrivalMarks marks_;
    LineClock clock_;
    // When a driver read last found nothing (taken before it asked): the
    // earliest moment the next byte read may have come. A short read proves
    // nothing here; a pseudo-terminal may still hold bytes on their way to
    // its reader, which only a read that finds nothing waits for.
    LineTime drainedAt_;
    std::uint64_t received_ = 0;
    std::uint64_t sent_ = 0;
    std::optional<TransferTimes> lastRead_;
    std::optional<TransferTimes> lastWrite_;
    std::vector<LineEvent> lineEvents_;
    bool saidNoLineEvents_ = false;
    InputFilter filter_;
    std::uint8_t eventChar_ = 0;
    std::uint32_t bitsPerSecond_ = 9600;
    COMMTIMEOUTS timeouts_;
    std::uint32_t mask_ = 0;
    std::uint32_t events_ = 0;  // seen, in the mask, not yet reported
    std::uint32_t errors_ = 0;  // CE_* not yet reported
    bool txPending_ = false;    // bytes written since the last EV_TXEMPTY
    std::optional<SteadyClock::time_point> txCheckAt_;

    std::optional<ReadOp> read_;
    std::optional<WriteOp> write_;
    std::optional<WaitOp> wait_;

    ModemWatcher watcher_;
    PortLockFile lockFile_;

    // Set for a network port, whose socket is fd_.
    std::unique_ptr<net::NetLine> net_;
    std::uint8_t netModem_ = 0;         // the modem state last told
    std::uint32_t netSilent_ = 0;       // settings the server left unanswered once
    std::uint32_t netReported_ = 0;     // unconfirmed settings already reported
    std::uint32_t unconfirmedToSay_ = 0;
};

}  // namespace cport::device
