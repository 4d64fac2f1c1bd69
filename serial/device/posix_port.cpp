#include "serial/device/posix_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial/device/line_plan.h"
#include "serial/device/net/net_line.h"
#include "serial/device/port_lock.h"
#include "serial/device/posix_event.h"

namespace cport::device {

namespace {

constexpr std::uint32_t kLargestQueue = 64u << 20;  // bytes
constexpr std::uint32_t kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// Unix98 pseudo-terminal slaves have majors 136-143, the old BSD ones 3.
bool IsPseudoTerminal(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

// The tty line discipline hands out at most one buffer's worth (4095
// bytes) per read, however much the driver still holds behind it.
constexpr std::size_t kLargestDriverRead = 4095;

// A read that came back short of both the room offered and the driver's own
// limit emptied the driver: whatever arrives later raises a new edge, so
// asking again now would only return EAGAIN.
bool EmptiedDriver(std::size_t got, std::size_t offered) {
    return got < offered && got < kLargestDriverRead;
}

}  // namespace

PosixPort::PosixPort(int fd, int epollFd) : fd_(fd), epollFd_(epollFd) {}

PosixPort::~PosixPort() {
    Close();
    ::close(epollFd_);
}

std::shared_ptr<PosixPort> PosixPort::Open(const std::string& path, int* error) {
    // A user who may not open the device hears that first, not who else
    // may have it.
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM)) {
        *error = errno;
        return nullptr;
    }
    // The lock file before the device: opening a UART already raises DTR.
    PortLockFile lockFile;
    if (const int e = lockFile.Acquire(path); e != 0) {
        *error = e;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    bool exclusive = false;
    auto fail = [&](int e) -> std::shared_ptr<PosixPort> {
        if (exclusive) {
            ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        *error = e;
        return nullptr;
    };
    if (!isatty(fd)) {
        return fail(ENOTTY);
    }
    // Both locks: TIOCEXCL keeps out other programs that do not lock, but not
    // root; flock refuses a second opener in every case, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        return fail(errno);
    }
    exclusive = true;
    // After TIOCEXCL, so nobody new can slip in between.
    if (const int e = CheckNoOtherHolder(fd); e != 0) {
        return fail(e);
    }
    KernelLine saved;
    if (const int e = ReadKernelLine(fd, &saved); e != 0) {
        return fail(e);
    }
    const int epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        return fail(errno);
    }
    // Edge-triggered: a level-triggered wait spins while bytes stay unread.
    // Asking it for news without waiting is also the cheapest question the
    // driver can be asked (no call into the tty), which the queries need.
    epoll_event ev = {};
    ev.events = EPOLLIN | EPOLLET;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        const int e = errno;
        ::close(epollFd);
        return fail(e);
    }
    std::shared_ptr<PosixPort> port(new PosixPort(fd, epollFd));
    port->saved_ = saved;
    port->pseudoTerminal_ = IsPseudoTerminal(fd);
    port->lockFile_ = std::move(lockFile);

    // A pseudo-terminal answers ENOTTY: no modem lines, no counters.
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        port->hasModemLines_ = true;
        port->lines_ = static_cast<std::uint32_t>(lines);
    } else if (errno != ENOTTY && errno != EINVAL) {
        const int e = errno;
        port->closed_ = true;  // nothing to undo but the descriptor
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        *error = e;
        return nullptr;
    }
    serial_icounter_struct ic = {};
    if (ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        port->hasCounters_ = true;
        port->counters_ = {ic.cts,     ic.dsr,    ic.rng, ic.dcd,        ic.frame,
                           ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
        port->countersAtOpen_ = port->counters_;
    }

    // Raw at once, so nothing is echoed or edited before the first
    // SetCommState; the rate stays what it was.
    DCB raw;
    raw.BaudRate = saved.outSpeed != 0 ? saved.outSpeed : 9600;
    LinePlan plan;
    if (PlanLine(raw, saved, false, &plan) == 0) {
        if (const int e = WriteKernelLine(fd, plan.line); e != 0) {
            port->closed_ = true;
            ioctl(fd, TIOCNXCL);
            ::close(fd);
            *error = e;
            return nullptr;
        }
        port->bitsPerSecond_ = raw.BaudRate;
        if (port->hasModemLines_) {
            port->KeepOutputLines(static_cast<int>(port->lines_));
        }
    }
    // A port starts with an empty input queue, as a freshly opened driver
    // does; bytes left from an earlier user of the line are not ours.
    port->drainedAt_ = port->clock_.Now();
    tcflush(fd, TCIFLUSH);
    return port;
}

void PosixPort::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        if (read_) {
            Complete(read_->ov, read_->event, ECANCELED, read_->got);
            read_.reset();
        }
        if (write_) {
            Complete(write_->ov, write_->event, ECANCELED, write_->done);
            write_.reset();
        }
        if (wait_) {
            Complete(wait_->ov, wait_->event, ECANCELED, 0);
            wait_.reset();
        }
    }
    watcher_.Stop();
    std::lock_guard lock(mutex_);
    if (net_) {
        if (breakHeld_ && !hungUp_) {
            NetEscape(CLRBREAK);  // best effort, as for a local line
        }
        net_.reset();  // closes the socket, which leaves the epoll set with it
        fd_ = -1;
        return;
    }
    if (!hungUp_) {
        if (breakHeld_) {
            ioctl(fd_, TIOCCBRK);  // a line left in break would stay dead for the next user
        }
        WriteKernelLine(fd_, saved_);  // best effort: the device may be gone
    }
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also ends the flock and drops fd_ from the epoll set
    fd_ = -1;
    lockFile_.Release();
}

int PosixPort::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if (inQueue > kLargestQueue || outQueue > kLargestQueue) {
        return EINVAL;
    }
    // The output side has no queue of ours: bytes go to the kernel's.
    queue_.SetCapacity(inQueue != 0 ? inQueue : kDefaultQueue);
    ServiceLocked(SteadyClock::now());
    return 0;
}

int PosixPort::SetCommState(const DCB& dcb) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if (hungUp_) {
        return EIO;
    }
    if (net_) {
        return NetSetCommState(dcb);
    }
    KernelLine current;
    if (const int e = ReadKernelLine(fd_, &current); e != 0) {
        return e;
    }
    LinePlan plan;
    if (const int e = PlanLine(dcb, current, hasModemLines_, &plan); e != 0) {
        return e;
    }
    if (const int e = WriteKernelLine(fd_, plan.line); e != 0) {
        return e;
    }
    // The kernel reports success when it took any part of the request.
    KernelLine got;
    if (const int e = ReadKernelLine(fd_, &got); e != 0) {
        return e;
    }
    if (!LineTaken(plan.line, got, pseudoTerminal_)) {
        WriteKernelLine(fd_, current);
        return EINVAL;
    }
    if (hasModemLines_) {
        const auto apply = [this](LineAction action, int bit) -> int {
            if (action == LineAction::kLeave) {
                return 0;
            }
            return ioctl(fd_, action == LineAction::kSet ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0
                                                                                           : errno;
        };
        if (const int e = apply(plan.dtr, TIOCM_DTR); e != 0) {
            return e;
        }
        if (const int e = apply(plan.rts, TIOCM_RTS); e != 0) {
            return e;
        }
    }
    filter_.SetRules(plan.input);
    eventChar_ = plan.input.eventChar;
    bitsPerSecond_ = dcb.BaudRate;
    return 0;
}

int PosixPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    timeouts_ = timeouts;
    return 0;
}

int PosixPort::SetCommMask(std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    const bool askedBefore = WantsLineEvents();
    mask_ = mask & (EV_ALL | EV_LINEEVENT);
    events_ &= mask_;
    // A device without modem lines or counters says so, once, rather than
    // staying silent or making events up.
    const bool netLines = net_ && net_->Telnet();
    if (WantsLineEvents() && !askedBefore && !hasModemLines_ && !hasCounters_ && !netLines &&
        !saidNoLineEvents_) {
        saidNoLineEvents_ = true;
        AddLineEvent(LineEventKind::kNoLineEvents, clock_.Now(), false, 0);
    }
    SayUnconfirmed();
    // Bytes queued before anyone asked for arrivals (SetupComm takes what the
    // driver already holds) are announced now: with a full queue no later
    // byte would be taken, and so none would raise the arrival.
    if ((mask_ & EV_RXCHAR) != 0 && queue_.Size() > 0) {
        events_ |= EV_RXCHAR;
    }
    if (wait_) {
        *wait_->mask = 0;
        Complete(wait_->ov, wait_->event, 0, 0);
        wait_.reset();
    }
    StartWatcherIfWanted();
    return 0;
}

void PosixPort::StartWatcherIfWanted() {
    if (!hasModemLines_ || (mask_ & (kLineEvents | EV_LINEEVENT)) == 0 || watcher_.Running() ||
        hungUp_) {
        return;
    }
    std::weak_ptr<PosixPort> weak = weak_from_this();
    watcher_.Start(fd_, [weak] {
        if (auto port = weak.lock()) {
            std::lock_guard lock(port->mutex_);
            if (!port->closed_) {
                port->CheckModemLines();
                port->DeliverEvents();
            }
        }
    });
}

int PosixPort::WaitCommEvent(std::uint32_t* mask, OVERLAPPED* ov,
                             std::shared_ptr<PosixEvent> event) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if (mask_ == 0 || wait_) {
        return EINVAL;
    }
    event->Reset();
    ov->Internal = ERROR_IO_PENDING;
    ov->InternalHigh = 0;
    *mask = 0;
    // Refused at once, with the event left reset: a waiter on it then sleeps
    // until something else wakes it instead of spinning on a dead device.
    // What was seen before the hang-up (its "lost" among it) is still given.
    if (hungUp_ && (events_ & mask_) == 0) {
        ov->Internal = EIO;
        return EIO;
    }
    wait_ = WaitOp{ov, mask, event};
    ServiceLocked(SteadyClock::now());
    if (wait_) {
        event->Bind(shared_from_this());
        return ERROR_IO_PENDING;
    }
    return static_cast<int>(ov->Internal);
}

int PosixPort::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* done, OVERLAPPED* ov,
                        std::shared_ptr<PosixEvent> event) {
    std::lock_guard lock(mutex_);
    *done = 0;
    if (closed_) {
        return EBADF;
    }
    if (read_) {
        return EBUSY;
    }
    event->Reset();
    ov->Internal = ERROR_IO_PENDING;
    ov->InternalHigh = 0;
    const auto now = SteadyClock::now();
    // A read that takes what is there and more than is queued asks the
    // driver itself, news or not: only the driver's own "nothing" proves
    // that the line was quiet.
    const ReadRule rule = MakeReadRule(timeouts_, count);
    if (rule.kind == ReadRule::Kind::kReturnAtOnce && queue_.Size() < count && !hungUp_) {
        mayHaveInput_ = true;
    }
    read_ = ReadOp{ov,
                   static_cast<std::uint8_t*>(buffer),
                   count,
                   0,
                   rule,
                   now,
                   now,
                   event,
                   {}};
    // Bytes already queued (those an EV_RXCHAR announced) need no news from
    // the driver: the read completes from the queue alone.
    ServiceLocked(now, queue_.Size() < count);
    if (read_) {
        event->Bind(shared_from_this());
        return ERROR_IO_PENDING;
    }
    *done = static_cast<std::uint32_t>(ov->InternalHigh);
    return static_cast<int>(ov->Internal);
}

int PosixPort::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* done,
                         OVERLAPPED* ov, std::shared_ptr<PosixEvent> event) {
    std::lock_guard lock(mutex_);
    *done = 0;
    if (closed_) {
        return EBADF;
    }
    if (write_) {
        return EBUSY;
    }
    event->Reset();
    ov->Internal = ERROR_IO_PENDING;
    ov->InternalHigh = 0;
    const auto now = SteadyClock::now();
    std::optional<SteadyClock::time_point> deadline;
    if (const auto total = WriteTotal(timeouts_, count)) {
        deadline = now + *total;
    }
    write_ = WriteOp{ov, static_cast<const std::uint8_t*>(buffer), count, 0, deadline, event, {}};
    write_->times.first = clock_.Now();  // handed to the driver
    writable_ = true;                    // try at once; EAGAIN says otherwise
    ServiceLocked(now);
    if (write_) {
        event->Bind(shared_from_this());
        return ERROR_IO_PENDING;
    }
    *done = static_cast<std::uint32_t>(ov->InternalHigh);
    return static_cast<int>(ov->Internal);
}

int PosixPort::PurgeComm(std::uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        return EINVAL;
    }
    if ((flags & PURGE_TXABORT) != 0 && write_) {
        Complete(write_->ov, write_->event, ECANCELED, write_->done);
        write_.reset();
        UpdateInterest();
    }
    if ((flags & PURGE_RXABORT) != 0 && read_) {
        Complete(read_->ov, read_->event, ECANCELED, read_->got);
        read_.reset();
    }
    if (net_) {
        return NetPurge(flags);
    }
    int result = 0;
    if ((flags & PURGE_TXCLEAR) != 0 && tcflush(fd_, TCOFLUSH) != 0) {
        result = errno;
    }
    if ((flags & PURGE_RXCLEAR) != 0) {
        queue_.Clear();
        marks_.Clear();
        filter_.Reset();
        const LineTime before = clock_.Now();
        if (tcflush(fd_, TCIFLUSH) != 0) {
            result = errno;
        } else {
            mayHaveInput_ = false;
            drainedAt_ = before;
        }
    }
    return result;
}

int PosixPort::ClearCommError(std::uint32_t* errors, COMSTAT* status) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    // While the mask asks for arrivals, the event waiter keeps the queue
    // filled and announces what it adds: what is queued is then the count to
    // give, and a count-then-read on the reader's thread costs no system
    // call. Otherwise the driver is asked, so a poller sees it all.
    ServiceLocked(SteadyClock::now(), (mask_ & EV_RXCHAR) == 0);
    *errors = errors_;
    errors_ = 0;
    *status = COMSTAT{};
    status->cbInQue = static_cast<std::uint32_t>(queue_.Size());
    // A pseudo-terminal hands written bytes over at once: its output queue
    // is always empty, and asking would cost a system call per query.
    int outq = 0;
    if (hungUp_ || pseudoTerminal_ || ioctl(fd_, TIOCOUTQ, &outq) != 0) {
        outq = 0;
    }
    status->cbOutQue =
        static_cast<std::uint32_t>(outq) + (write_ ? write_->count - write_->done : 0);
    return 0;
}

int PosixPort::GetCommModemStatus(std::uint32_t* status) {
    std::lock_guard lock(mutex_);
    *status = 0;
    if (closed_) {
        return EBADF;
    }
    if (hungUp_) {
        return EIO;
    }
    if (net_) {
        *status = NetModemStatus();
        return 0;
    }
    if (!hasModemLines_) {
        return 0;
    }
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        return errno;
    }
    *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
              ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
    return 0;
}

int PosixPort::OverlappedResult(OVERLAPPED* ov, std::uint32_t* transferred) {
    std::lock_guard lock(mutex_);
    if (ov->Internal == static_cast<std::uintptr_t>(ERROR_IO_PENDING)) {
        ServiceLocked(SteadyClock::now());
        if (ov->Internal == static_cast<std::uintptr_t>(ERROR_IO_PENDING)) {
            *transferred = 0;
            return ERROR_IO_INCOMPLETE;
        }
    }
    *transferred = static_cast<std::uint32_t>(ov->InternalHigh);
    return static_cast<int>(ov->Internal);
}

std::optional<SteadyClock::time_point> PosixPort::NextDeadline() {
    std::lock_guard lock(mutex_);
    std::optional<SteadyClock::time_point> next;
    auto consider = [&next](std::optional<SteadyClock::time_point> t) {
        if (t && (!next || *t < *next)) {
            next = t;
        }
    };
    if (closed_) {
        return next;
    }
    if (read_) {
        consider(ReadDeadline(read_->rule, read_->start, read_->got, read_->lastByte));
    }
    if (write_) {
        consider(write_->deadline);
    }
    if (txPending_ && !write_ && (mask_ & EV_TXEMPTY) != 0) {
        consider(txCheckAt_ ? txCheckAt_ : SteadyClock::now());
    }
    // The queue takes one driver read per call: while an event wait is
    // pending, what the driver still holds is taken at once, as no new edge
    // need come for it.
    if (wait_ && CanQueueMore()) {
        consider(SteadyClock::now());
    }
    return next;
}

void PosixPort::Service() {
    std::lock_guard lock(mutex_);
    ServiceLocked(SteadyClock::now());
}

void PosixPort::ServiceLocked(SteadyClock::time_point now, bool askDriver) {
    if (closed_) {
        return;
    }
    if (askDriver) {
        TakeEpollNews();
    }
    PullInput(now, askDriver);
    FeedRead(now);
    PushWrite(now);
    if (net_ && net_->HasPending() && writable_ && !hungUp_) {
        FlushNet();
    }
    if (hasCounters_ && !hungUp_) {
        CheckModemLines();
    }
    CheckTxEmpty(now);
    DeliverEvents();
}

void PosixPort::TakeEpollNews() {
    if (hungUp_) {
        return;
    }
    epoll_event events[4];
    const int n = epoll_wait(epollFd_, events, 4, 0);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t e = events[i].events;
        if ((e & EPOLLIN) != 0) {
            mayHaveInput_ = true;
        }
        if ((e & EPOLLOUT) != 0) {
            writable_ = true;
        }
        // A socket's far end closing raises no HUP while we may still send:
        // its end of data comes with the last bytes, and a short read would
        // leave it unseen.
        if ((e & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0) {
            // Read what is still there first; the read that returns 0 or EIO
            // then marks the hang-up.
            mayHaveInput_ = true;
            PullInput(SteadyClock::now(), true);
            while (CanQueueMore()) {
                QueueOneRead();
            }
            HangUp(NetLoss(-1));
        }
    }
}

int PosixPort::ReadKernel(std::uint8_t* into, std::size_t room) {
    for (;;) {
        const LineTime asked = clock_.Now();
        const ssize_t n = ::read(fd_, into, room);
        if (n > 0) {
            if (EmptiedDriver(static_cast<std::size_t>(n), room)) {
                mayHaveInput_ = false;
            }
            std::size_t kept = static_cast<std::size_t>(n);
            if (net_) {
                const auto data = net_->Decode(into, kept);
                if (!data) {
                    // A server that breaks the protocol is not listened to further.
                    HangUp("the server at " + net::HostAndPort(net_->Address()) +
                           " broke the Telnet protocol: it sent " + net_->Fault());
                    return -1;
                }
                kept = *data;
                TakeNetNews();
            }
            return static_cast<int>(filter_.Active() ? filter_.Apply(into, kept) : kept);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            mayHaveInput_ = false;
            SawDriverEmpty(asked);
            return -1;
        }
        // 0 (end of file) or an error: the line is gone.
        HangUp(NetLoss(n == 0 ? 0 : errno));
        return -1;
    }
}

bool PosixPort::CanQueueMore() const {
    return mayHaveInput_ && !hungUp_ && queue_.Free() > 0;
}

bool PosixPort::ReadWantsMore() const {
    // A "first byte" read stops taking at its first bytes; the others take
    // what there is up to their count (a "return at once" read included).
    return read_ && read_->got < read_->count &&
           (read_->rule.kind != ReadRule::Kind::kReturnOnFirstByte || read_->got == 0);
}

void PosixPort::PullInput(SteadyClock::time_point now, bool fromDriver) {
    const bool wasFull = queue_.Free() == 0;
    while (ReadWantsMore()) {
        const std::uint32_t room = read_->count - read_->got;
        if (queue_.Size() > 0) {
            const auto n = static_cast<std::uint32_t>(queue_.Pop(read_->buffer + read_->got, room));
            LineTime first, last, earliest;
            marks_.Popped(n, &first, &last, &earliest);
            NoteReadBytes(n, first, last, earliest);
            read_->lastByte = now;
            continue;
        }
        if (!fromDriver || !mayHaveInput_ || hungUp_) {
            return;
        }
        // Nothing queued: straight into the reader's buffer.
        std::uint8_t* at = read_->buffer + read_->got;
        const LineTime earliest = drainedAt_;
        const int n = ReadKernel(at, room);
        if (n < 0) {
            return;
        }
        if (n > 0) {
            // Taken after the read: a byte is never stamped before it came.
            const LineTime time = clock_.Now();
            NoteReadBytes(static_cast<std::uint32_t>(n), time, time, earliest);
            read_->lastByte = now;
            NoteReceived(n, false, 0, at);
        }
    }
    // Into the queue, one driver read per call: the lock is held briefly, so
    // a reader on another thread never waits behind a long drain, and the
    // next call (or the reader's own transfer) takes the rest.
    // A read that made room in a full queue while an event wait is pending
    // tops it up at once: the waiter may have seen the queue full and let the
    // driver's news pass, and no new edge need come for what is left there.
    if ((fromDriver || (wasFull && wait_)) && CanQueueMore()) {
        QueueOneRead();
    }
}

void PosixPort::QueueOneRead() {
    const std::size_t before = queue_.Size();
    if (filter_.Active() || (net_ && net_->Telnet())) {
        std::uint8_t chunk[4096];
        const LineTime earliest = drainedAt_;
        const int n = ReadKernel(chunk, std::min(sizeof chunk, queue_.Free()));
        if (n <= 0) {
            return;  // nothing, or only Telnet commands
        }
        queue_.Push(chunk, n);
        marks_.Pushed(n, clock_.Now(), earliest);
        NoteReceived(n, true, before, chunk);
        return;
    }
    iovec spans[2];
    const int parts = queue_.FreeSpans(spans);
    ssize_t n;
    LineTime asked;
    do {
        asked = clock_.Now();
        n = ::readv(fd_, spans, parts);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN) {
        mayHaveInput_ = false;
        SawDriverEmpty(asked);
        return;
    }
    if (n <= 0) {
        HangUp(NetLoss(n == 0 ? 0 : errno));
        return;
    }
    queue_.Commit(n);
    marks_.Pushed(static_cast<std::size_t>(n), clock_.Now(), drainedAt_);
    const std::size_t offered = spans[0].iov_len + (parts > 1 ? spans[1].iov_len : 0);
    if (EmptiedDriver(static_cast<std::size_t>(n), offered)) {
        mayHaveInput_ = false;
    }
    NoteReceived(n, true, before, nullptr);
}

void PosixPort::NoteReceived(std::size_t count, bool intoQueue, std::size_t queueBefore,
                             const std::uint8_t* data) {
    if (count == 0) {
        return;
    }
    received_ += count;
    std::uint32_t seen = EV_RXCHAR;
    if ((mask_ & EV_RXFLAG) != 0) {
        const bool found = data != nullptr ? std::memchr(data, eventChar_, count) != nullptr
                                           : queue_.TailContains(count, eventChar_);
        if (found) {
            seen |= EV_RXFLAG;
        }
    }
    if (intoQueue) {
        const std::size_t threshold = queue_.Capacity() * 8 / 10;
        if (queueBefore < threshold && queue_.Size() >= threshold) {
            seen |= EV_RX80FULL;
        }
    }
    events_ |= seen & mask_;
}

void PosixPort::FeedRead(SteadyClock::time_point now) {
    if (!read_) {
        return;
    }
    const bool satisfied = ReadSatisfied(read_->rule, read_->count, read_->got);
    const auto deadline = ReadDeadline(read_->rule, read_->start, read_->got, read_->lastByte);
    if (hungUp_ && read_->got == 0 && read_->count > 0) {
        Complete(read_->ov, read_->event, EIO, 0);
        read_.reset();
    } else if (satisfied || hungUp_ || (deadline && now >= *deadline)) {
        // After a hang-up, what arrived before it is still handed over.
        read_->times.bytes = read_->got;
        lastRead_ = read_->times;
        Complete(read_->ov, read_->event, 0, read_->got);
        read_.reset();
    }
}

void PosixPort::PushWrite(SteadyClock::time_point now) {
    if (!write_) {
        return;
    }
    int failure = hungUp_ ? EIO : 0;
    while (failure == 0 && write_->done < write_->count && writable_) {
        const std::uint8_t* from = write_->buffer + write_->done;
        const std::size_t left = write_->count - write_->done;
        const ssize_t n = net_ ? net_->Send(from, left) : ::write(fd_, from, left);
        if (n > 0) {
            write_->done += static_cast<std::uint32_t>(n);
            sent_ += static_cast<std::uint64_t>(n);
            txPending_ = true;
            txCheckAt_.reset();
        } else if (n < 0 && errno == EAGAIN) {
            writable_ = false;
        } else if (!(n < 0 && errno == EINTR)) {
            failure = n < 0 ? errno : EIO;
            // A connection reset or closed by the far end is a line gone.
            if (failure == EIO || (net_ && failure != EAGAIN)) {
                HangUp(NetLoss(failure));
                failure = EIO;
            }
        }
    }
    if (failure != 0) {
        Complete(write_->ov, write_->event, failure, write_->done);
        write_.reset();
    } else if (write_->done == write_->count || (write_->deadline && now >= *write_->deadline)) {
        // A write ended by its time-out succeeds with the bytes it moved.
        write_->times.last = clock_.Now();
        write_->times.bytes = write_->done;
        lastWrite_ = write_->times;
        Complete(write_->ov, write_->event, 0, write_->done);
        write_.reset();
    }
    UpdateInterest();
}

void PosixPort::UpdateInterest() {
    const bool want = write_.has_value() || (net_ && net_->HasPending());
    if (want == wantOut_ || hungUp_ || closed_) {
        return;
    }
    epoll_event ev = {};
    ev.events = EPOLLIN | EPOLLET | (want ? EPOLLOUT : 0u) | (net_ ? EPOLLRDHUP : 0u);
    if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd_, &ev) == 0) {
        wantOut_ = want;
    }
}

void PosixPort::CheckTxEmpty(SteadyClock::time_point now) {
    if (!txPending_ || write_ || (mask_ & EV_TXEMPTY) == 0) {
        return;
    }
    if (txCheckAt_ && now < *txCheckAt_) {
        return;
    }
    int outq = 0;
    if (hungUp_ || pseudoTerminal_ || ioctl(fd_, TIOCOUTQ, &outq) != 0) {
        outq = 0;
    }
    if (outq <= 0) {
        events_ |= EV_TXEMPTY;
        txPending_ = false;
        txCheckAt_.reset();
        return;
    }
    // Linux has no "drained" wake-up: look again when the bytes still queued
    // should have left at the line's rate (10 bits a byte).
    const auto us = std::max<std::int64_t>(
        1000, std::int64_t{outq} * 10 * 1000000 / std::max<std::uint32_t>(bitsPerSecond_, 1));
    txCheckAt_ = now + std::chrono::microseconds(us);
}

void PosixPort::CheckModemLines() {
    std::uint32_t seen = 0;
    if (hasCounters_) {
        serial_icounter_struct ic = {};
        if (ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
            return;
        }
        const Counters now{ic.cts,     ic.dsr,    ic.rng, ic.dcd,        ic.frame,
                           ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
        Counters& was = counters_;
        if (WantsLineEvents()) {
            NoteCounterChanges(was, now, clock_.Now());
        }
        std::uint32_t errors = 0;
        errors |= now.frame != was.frame ? CE_FRAME : 0;
        errors |= now.overrun != was.overrun ? CE_OVERRUN : 0;
        errors |= now.parity != was.parity ? CE_RXPARITY : 0;
        errors |= now.brk != was.brk ? CE_BREAK : 0;
        errors |= now.bufOverrun != was.bufOverrun ? CE_RXOVER : 0;
        errors_ |= errors;
        seen |= (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) != 0 ? EV_ERR : 0;
        seen |= (errors & CE_BREAK) != 0 ? EV_BREAK : 0;
        seen |= now.cts != was.cts ? EV_CTS : 0;
        seen |= now.dsr != was.dsr ? EV_DSR : 0;
        seen |= now.dcd != was.dcd ? EV_RLSD : 0;
        seen |= now.rng != was.rng ? EV_RING : 0;
        was = now;
    } else if (hasModemLines_) {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) {
            return;
        }
        const std::uint32_t changed = static_cast<std::uint32_t>(lines) ^ lines_;
        lines_ = static_cast<std::uint32_t>(lines);
        if (WantsLineEvents() && changed != 0) {
            const LineTime time = clock_.Now();
            const auto note = [&](std::uint32_t bit, LineEventKind kind) {
                if ((changed & bit) != 0) {
                    AddLineEvent(kind, time, (lines & bit) != 0, 0);
                }
            };
            note(TIOCM_CTS, LineEventKind::kCts);
            note(TIOCM_DSR, LineEventKind::kDsr);
            note(TIOCM_CD, LineEventKind::kRlsd);
            note(TIOCM_RNG, LineEventKind::kRing);
        }
        seen |= (changed & TIOCM_CTS) ? EV_CTS : 0;
        seen |= (changed & TIOCM_DSR) ? EV_DSR : 0;
        seen |= (changed & TIOCM_CD) ? EV_RLSD : 0;
        seen |= ((changed & TIOCM_RNG) && !(lines & TIOCM_RNG)) ? EV_RING : 0;
    }
    events_ |= seen & mask_;
}

void PosixPort::DeliverEvents() {
    if (!wait_) {
        return;
    }
    const std::uint32_t ready = events_ & mask_;
    if (ready != 0) {
        *wait_->mask = ready;
        events_ &= ~ready;
        Complete(wait_->ov, wait_->event, 0, 0);
        wait_.reset();
    } else if (hungUp_) {
        Complete(wait_->ov, wait_->event, EIO, 0);
        wait_.reset();
    }
}

void PosixPort::HangUp(std::string why) {
    if (hungUp_) {
        return;
    }
    hungUp_ = true;
    mayHaveInput_ = false;
    // Out of the wait set: a hung-up tty reports HUP for ever, and the waiters
    // must go back to sleeping on their other events.
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
    errors_ |= CE_IOE;
    events_ |= EV_ERR & mask_;
    if (WantsLineEvents()) {
        AddLineEvent(LineEventKind::kLost, clock_.Now(), false, 0);
        lineEvents_.back().reason = std::move(why);
    }
}

void PosixPort::Complete(OVERLAPPED* ov, const std::shared_ptr<PosixEvent>& event, int status,
                         std::uint32_t transferred) {
    ov->InternalHigh = transferred;
    ov->Internal = static_cast<std::uintptr_t>(status);
    event->Unbind();
    event->Set();
}

}  // namespace cport::device
