#pragma once
// The run's port: opened with the window's settings (and the switches'),
// what arrives gathered with its arrival times and written to the
// transcript, sends timed, and waits that serve the event loop until a
// condition holds, a deadline passes, a stop signal comes or the line goes
// away. Main thread only: unlike the window's, the port has no event thread
// to hand arrivals over; the main thread's event loop waits on the device
// itself and reads what arrives as soon as it wakes.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "runner/run_options.h"
#include "runner/transcript.h"
#include "serial/device/time_line.h"
#include "timeline/framing.h"

namespace cport {
class TComPort;
}

namespace tarvik::capture {
class CaptureWriter;
}

namespace tarvik::runner {

class SampleRecorder;

// The run cannot go on (the port cannot be opened, went away, a write
// failed, a bad pattern): exit status 2, the reason on standard error.
class ERunAborted : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A stop signal arrived: the run ends where it is, the report is written.
class ERunStopped : public std::runtime_error {
  public:
    ERunStopped() : std::runtime_error("stopped") {}
};

class LineSession {
  public:
    // `reconnect`: a line that is lost is opened again when it comes back
    // (the port's ReopenOnReturn), and a send waits for that; otherwise a
    // lost line ends the run.
    // `framing`: how received blocks become transcript lines (the expects
    // see the bytes as they came, whatever it says).
    LineSession(const PortSettings& settings, bool reconnect, Transcript& transcript,
                const Framing& framing = {});
    ~LineSession();
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    // Opens the port (closing another one open first; the same port, open,
    // stays as it is). ERunAborted with the port's reason when it cannot be opened.
    void Open(const Text& port);
    void Close();
    bool IsOpen() const;
    // The port reported its line lost and waits for it to come back (reconnect on).
    bool LineLost() const;
    bool Reconnects() const { return reconnect_; }
    // The open port, for line control; ERunAborted when none is open.
    cport::TComPort& Port();

    // Writes the bytes; returns when the write completed and at what time.
    // ERunAborted when the port is not open or the write fails (a port that
    // went away), ERunStopped after a stop signal.
    Stamp Send(std::string_view bytes);

    // Serves the event loop until `done()` holds or the monotonic deadline
    // (µs) passes; returns whether `done()` held. ERunStopped after a stop
    // signal, ERunAborted when reading from the port failed.
    bool WaitUntil(const std::function<bool()>& done, std::int64_t deadlineUs);

    // The bytes received and not yet taken by an expect.
    std::string_view Pending() const { return pending_; }
    // The arrival time of the pending byte at `offset` (its block's time).
    Stamp ArrivalOf(std::size_t offset) const;
    // Takes the first `count` pending bytes away.
    void Take(std::size_t count);
    // How many blocks have arrived since the session began; a mark for
    // "anything new since".
    std::uint64_t Arrivals() const { return arrivals_; }
    Stamp LastArrival() const { return lastArrival_; }

    // Hands every block received (LastReadTimes().first), every block
    // written (LastWriteTimes().first, the bytes the write took) and every
    // line event to `writer` from now on, as the window does. Not owned: it
    // must outlive the session (the port's last "closed" goes to it).
    void AddCapture(capture::CaptureWriter* writer);

    // Hands every block received with its read's times to `recorder` from
    // now on (--samples). Not owned: it must outlive the session.
    void SetSamples(SampleRecorder* recorder) { samples_ = recorder; }

    // Called with each block read and its last byte's arrival, after the
    // transcript has it, in the port's report step (the receive rules answer
    // there). Empty: none.
    void SetOnReceived(std::function<void(std::string_view, const Stamp&)> onReceived) {
        onReceived_ = std::move(onReceived);
    }
    // Called each time a wait wakes, before its condition is judged, on the
    // waiter's stack (a script's functions run there). Empty: none.
    void SetBetweenWaits(std::function<void()> betweenWaits) {
        betweenWaits_ = std::move(betweenWaits);
    }

    // The run's transcript, for the steps' own lines.
    Transcript& Log() { return transcript_; }

    // The line events since the session began and not yet taken, oldest
    // first (the port's time line: modem lines, breaks, errors, lost, back).
    std::deque<cport::LineEvent>& Events() { return events_; }

    // A stop signal (main thread, from the signal's event): ends the wait.
    void Stop(int signal);
    int StoppedBy() const { return stoppedBy_; }
    // An error that reached the event loop (main thread): the wait ends and
    // the run with it (ERunAborted with that reason).
    void Abort(const std::string& reason);

  private:
    void OnRxChar(std::int32_t count);
    // A block read from the port, with the times of its last read.
    void Received(const Text& received);
    // Received blocks into transcript lines, per the framing.
    void Transcribe(const Text& received, const cport::TransferTimes& times);
    void WriteMessages(const std::vector<timeline::Message>& messages);
    void FramingTimeout();
    void ArmFramingTimer();
    // The message gathered so far, and any piece held back, into the transcript.
    void CloseMessages();
    void OnLineEvent(const cport::LineEvent& event);

    PortSettings settings_;
    bool reconnect_;
    Framing framing_;
    timeline::Framer framer_;
    // Closes a gap rule's message once the line has been quiet long enough;
    // runs only while a message is gathered or a piece is held.
    std::unique_ptr<QTimer> framingTimer_;
    std::deque<cport::LineEvent> events_;
    Transcript& transcript_;
    std::vector<capture::CaptureWriter*> captures_;
    SampleRecorder* samples_ = nullptr;
    std::unique_ptr<cport::TComPort> port_;
    std::string pending_;
    // Each pending block's end offset in pending_ and its arrival time.
    struct Block {
        std::size_t end;
        Stamp at;
    };
    std::vector<Block> blocks_;
    std::uint64_t arrivals_ = 0;
    Stamp lastArrival_;
    std::string readError_;
    int stoppedBy_ = 0;
    std::function<void(std::string_view, const Stamp&)> onReceived_;
    std::function<void()> betweenWaits_;
    // The transcript is written out when the event loop is about to sleep,
    // at most every kFlushPause while exchanges follow each other closely
    // (flushTimer_ writes what the last sleep left).
    void FlushBeforeSleep();
    QMetaObject::Connection flushBeforeSleep_;
    std::unique_ptr<QTimer> flushTimer_;
    QElapsedTimer sinceFlush_;
    // A wait's time limit; one timer for every wait.
    std::unique_ptr<QTimer> deadline_;
};

}  // namespace tarvik::runner
