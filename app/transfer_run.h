#pragma once
// One file transfer of the window: the engine on a thread of its own, over a
// line whose bytes the window feeds from its receive path and whose writes
// are handed to the main thread, where the port is written. Progress and the
// end come back to the main thread as queued calls, so the window goes on
// answering whatever the transfer waits for.
// Created, fed and ended on the main thread.

#include <QObject>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "transfer/engine.h"
#include "transfer/fed_line.h"

namespace tarvik {

class TTransferRun : public QObject {
  public:
    using Writer = std::function<void(std::string_view)>;
    using ProgressShown = std::function<void(const transfer::Progress&)>;
    // `outcome` is null when the transfer failed with `error`.
    using Ended = std::function<void(const transfer::Outcome* outcome, std::exception_ptr error)>;

    // Starts at once. `write`: main thread, writes every byte to the port or
    // throws. `ended` is called once, on the main thread; it may delete the
    // run only later (deleteLater).
    TTransferRun(transfer::Job job, Writer write, ProgressShown progress, Ended ended,
                 QObject* parent = nullptr);
    // Cancels a transfer that still runs and waits for its thread, serving
    // its writes meanwhile; `ended` is not called then.
    ~TTransferRun() override;

    const transfer::Job& Job() const { return job_; }
    void Received(std::string_view bytes) { line_.Feed(bytes); }
    // The line is gone: the transfer ends with `why` at its next look at it.
    void Lose(const std::string& why) { line_.Lose(why); }
    void Cancel() { engine_.Cancel(); }

  private:
    void WriteOnMainThread(std::string_view bytes);
    void Finish();  // main thread, after the engine's thread has ended

    transfer::Job job_;
    Writer write_;
    ProgressShown progress_;
    Ended ended_;
    transfer::FedLine line_;
    transfer::Engine engine_;
    std::optional<transfer::Outcome> outcome_;
    std::exception_ptr error_;
    std::atomic<bool> done_{false};  // the engine's thread has ended
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace tarvik
