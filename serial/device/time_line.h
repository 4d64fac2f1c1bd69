#pragma once
// The records of what happened on a line, with their times: the stream that
// the window's time line, a capture writer and a headless runner all read.
// Taken in the device layer (on the thread that read or wrote the driver) and
// published by the port (TCustomComPort). Plain data, no Qt; any thread.
//
// Times: `monoUs` is CLOCK_MONOTONIC in microseconds, for intervals and
// ordering; `wallUs` is CLOCK_REALTIME in microseconds since 1970 (UTC), for
// display. Within one device neither ever goes backwards: the wall clock is
// held still while the system clock is set back, so times stay in the order
// of the bytes and events they belong to.

#include <cstdint>
#include <optional>
#include <string>

namespace cport {

struct LineTime {
    std::int64_t monoUs = 0;
    std::int64_t wallUs = 0;

    // A zero time: nothing was timed.
    bool Valid() const { return monoUs != 0; }
    friend bool operator==(const LineTime&, const LineTime&) = default;
};

// Takes times that never go backwards (one per device). Any thread under the
// owner's lock.
class LineClock {
  public:
    LineTime Now();
    // The two clocks as they are, without the forward-only rule.
    static LineTime Raw();

  private:
    LineTime last_;
};

// The times of one completed transfer.
//  - A read: `first` is when the first byte read was taken from the driver,
//    `last` when the last one was (equal when one wake-up took them all).
//    Both zero when the read returned no bytes.
//    A byte is taken when someone reads the driver, which may be long after
//    it came (the reading thread was busy or not scheduled). `earliest` is
//    the earliest moment the first byte may have come: when the driver was
//    last seen without it. `quiet` is set when the read ended by finding the
//    driver empty: every byte not yet taken came after it. Either is zero
//    where the device cannot tell.
//  - A write: `first` is when the bytes were handed to the driver, `last`
//    when the driver had taken the last of them (the write completed).
struct TransferTimes {
    LineTime first;
    LineTime last;
    std::uint32_t bytes = 0;  // bytes the transfer moved
    LineTime earliest;
    LineTime quiet;
};

enum class LineEventKind : std::uint8_t {
    kCts,            // `state`: CTS is on now
    kDsr,            // `state`: DSR is on now
    kRlsd,           // `state`: carrier detect (DCD) is on now
    kRing,           // `state`: the ring indicator is on now
    kBreak,          // a break was received; `count`: breaks since the last event
    kFrame,          // framing errors; `count`: since the last event
    kParity,         // parity errors; `count`
    kOverrun,        // the UART's overruns; `count`
    kBufferOverrun,  // the driver's buffer overran; `count`
    kOpened,         // the port was opened
    kClosed,         // the port was closed
    kLost,           // the device went away (hang-up, I/O error, node removed)
    kBack,           // a lost device came back and was opened again, same settings
    // The device cannot report modem lines, breaks or line errors (a
    // pseudo-terminal): said once per open, instead of inventing events.
    kNoLineEvents,
    // A network port's server did not confirm settings asked of it (or
    // answered other values); `count`: the settings, ComPortSetting bits
    // (see UnconfirmedSettingsText).
    kUnconfirmed,
};

struct LineEvent {
    LineEventKind kind = LineEventKind::kOpened;
    LineTime time;
    bool state = false;       // modem lines only
    std::uint32_t count = 0;  // breaks and errors only
    // kLost on a network port: why the connection ended ("the server at
    // HOST:PORT closed the connection"); empty elsewhere.
    std::string reason;
};

// Counts since the port was opened. The kernel's counts exist only where the
// driver keeps them (a UART's TIOCGICOUNT); a pseudo-terminal has none.
struct LineCounters {
    std::uint64_t received = 0;  // bytes taken from the driver
    std::uint64_t sent = 0;      // bytes the driver took
    struct Kernel {
        std::uint64_t frame = 0;
        std::uint64_t parity = 0;
        std::uint64_t overrun = 0;
        std::uint64_t brk = 0;
        std::uint64_t bufferOverrun = 0;
    };
    std::optional<Kernel> kernel;  // empty: "not available"
};

// The name of a kind, as a capture or a transcript writes it ("CTS", "lost").
const char* LineEventName(LineEventKind kind);

// "baud rate, DTR": the settings of a kUnconfirmed event's count.
std::string UnconfirmedSettingsText(std::uint32_t settings);

}  // namespace cport
