#pragma once
// One transfer over a line: what to move and how, run on the caller's
// thread (a face's worker), cancellable from any other. Qt-free; both faces
// drive it through their own Line.

#include <atomic>
#include <string>
#include <vector>

#include "transfer/line.h"
#include "transfer/options.h"
#include "transfer/progress.h"

namespace tarvik::transfer {

struct Job {
    Mode mode = Mode::kText;
    bool receive = false;  // XMODEM and YMODEM only
    // The file to send; for XMODEM the file to receive into, for YMODEM the
    // folder the files go to.
    std::string path;
    TextOptions text;
    RawOptions raw;
    XmodemOptions modem;  // oneK follows the mode
};

struct Outcome {
    Progress figures;                  // the last report
    std::vector<std::string> received;  // the files received, in order
};

// "send xmodem1k firmware.bin", "receive ymodem into /tmp"
std::string Describe(const Job& job);

class Engine {
  public:
    explicit Engine(Line& line) : line_(line) {}

    // Runs the job to its end. ETransfer when it fails; the far end of a
    // protocol transfer is told (CAN CAN) when the failure is ours. The line
    // stays as it was: open and usable after a failure or a cancel.
    Outcome Run(const Job& job, const ProgressHandler& progress);

    // Any thread, any moment: the running (or next) Run ends with
    // ETransfer(kCancelled) as soon as it looks.
    void Cancel();

  private:
    Line& line_;
    std::atomic<bool> cancel_{false};
};

}  // namespace tarvik::transfer
