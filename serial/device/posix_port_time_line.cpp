// The time line of a Linux serial device: transfer times, line events from
// the driver's counters and modem lines, and the counts since open.

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "serial/device/posix_port.h"

namespace cport::device {

void PosixPort::NoteReadBytes(std::uint32_t count, const LineTime& first, const LineTime& last,
                              const LineTime& earliest) {
    if (count == 0) {
        return;
    }
    if (read_->got == 0) {
        read_->times.first = first;
        read_->times.earliest = earliest;
    }
    read_->times.last = last;
    read_->got += count;
}

void PosixPort::SawDriverEmpty(const LineTime& asked) {
    drainedAt_ = asked;
    // Bytes still queued came before it: the read ended quiet only if none are.
    if (read_ && queue_.Size() == 0) {
        read_->times.quiet = asked;
    }
}

void PosixPort::AddLineEvent(LineEventKind kind, const LineTime& time, bool state,
                             std::uint32_t count) {
    lineEvents_.push_back({kind, time, state, count, {}});
    events_ |= EV_LINEEVENT & mask_;
}

void PosixPort::NoteCounterChanges(const Counters& was, const Counters& now, const LineTime& time) {
    const bool linesChanged =
        now.cts != was.cts || now.dsr != was.dsr || now.dcd != was.dcd || now.rng != was.rng;
    int lines = 0;
    // The counters say that a line changed, TIOCMGET what it is now. A line
    // that went and came back between two readings still shows as a change.
    if (linesChanged) {
        if (ioctl(fd_, TIOCMGET, &lines) == 0) {
            lines_ = static_cast<std::uint32_t>(lines);
        } else {
            lines = static_cast<int>(lines_);
        }
    }
    const auto line = [&](int before, int after, int bit, LineEventKind kind) {
        if (after != before) {
            AddLineEvent(kind, time, (lines & bit) != 0, 0);
        }
    };
    line(was.cts, now.cts, TIOCM_CTS, LineEventKind::kCts);
    line(was.dsr, now.dsr, TIOCM_DSR, LineEventKind::kDsr);
    line(was.dcd, now.dcd, TIOCM_CD, LineEventKind::kRlsd);
    line(was.rng, now.rng, TIOCM_RNG, LineEventKind::kRing);
    const auto count = [&](int before, int after, LineEventKind kind) {
        if (after != before) {
            AddLineEvent(kind, time, false, static_cast<std::uint32_t>(after - before));
        }
    };
    count(was.brk, now.brk, LineEventKind::kBreak);
    count(was.frame, now.frame, LineEventKind::kFrame);
    count(was.parity, now.parity, LineEventKind::kParity);
    count(was.overrun, now.overrun, LineEventKind::kOverrun);
    count(was.bufOverrun, now.bufOverrun, LineEventKind::kBufferOverrun);
}

int PosixPort::GetTransferTimes(bool write, TransferTimes* times) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    const auto& last = write ? lastWrite_ : lastRead_;
    if (!last) {
        return ENOENT;
    }
    *times = *last;
    return 0;
}

int PosixPort::TakeLineEvents(std::vector<LineEvent>* events) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    events->clear();
    events->swap(lineEvents_);
    return 0;
}

int PosixPort::GetLineCounters(LineCounters* counters) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    *counters = LineCounters{};
    counters->received = received_;
    counters->sent = sent_;
    if (hasCounters_) {
        // Read afresh without touching counters_, which events are told from.
        Counters now = counters_;
        serial_icounter_struct ic = {};
        if (!hungUp_ && ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
            now = {ic.cts,     ic.dsr,    ic.rng, ic.dcd,        ic.frame,
                   ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
        }
        const auto since = [](int atOpen, int current) {
            // The kernel's counters are ints that wrap.
            return static_cast<std::uint64_t>(static_cast<std::uint32_t>(current - atOpen));
        };
        const Counters& base = countersAtOpen_;
        counters->kernel =
            LineCounters::Kernel{since(base.frame, now.frame), since(base.parity, now.parity),
                                 since(base.overrun, now.overrun), since(base.brk, now.brk),
                                 since(base.bufOverrun, now.bufOverrun)};
    }
    return 0;
}

}  // namespace cport::device
