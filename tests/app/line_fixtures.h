#pragma once
// Lines for the window's tests: the device simulator on a pseudo-terminal,
// run on a thread of its own, a bare pseudo-terminal whose master the test
// reads, and a port list of the test's own (a directory laid out like the
// tty class in sysfs, handed to the window through TARVIK_TTY_CLASS_DIR).

#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/simulator/simulator.h"

namespace tarvik::test {

// The simulator serving on a pty until destruction.
class SimulatorThread {
  public:
    explicit SimulatorThread(sim::Behaviour behaviour, sim::Plugging plugging = {});
    ~SimulatorThread();
    SimulatorThread(const SimulatorThread&) = delete;
    SimulatorThread& operator=(const SimulatorThread&) = delete;

    const std::string& Path() const { return simulator_.SlavePath(); }
    // The device goes (the pty hangs up) and comes back as a new pty behind
    // the plugging's link.
    void Unplug() { simulator_.Unplug(); }
    void Replug() { simulator_.Replug(); }

  private:
    sim::Simulator simulator_;
    std::thread thread_;
};

// A pty pair: the port opens Path(); the test reads what it writes from the
// master. The pair keeps a slave descriptor of its own, so the line stays up
// while the port closes and opens again.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return path_; }
    // Everything that arrives within `quiet` after the last byte, waiting at
    // most `limit` for the first.
    std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(5),
                        std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    // Reads until `count` bytes came or `limit` passed.
    std::string Read(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
    void Write(const std::string& bytes);
    // Writes into the line towards the master, from the pair's own slave
    // descriptor, until the kernel takes no more: a port's write then waits.
    void FillTowardsMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A port list: the entries name serial ports with a device behind them.
class FakeTtyClass {
  public:
    explicit FakeTtyClass(const std::vector<std::string>& ports);
    // Sets TARVIK_TTY_CLASS_DIR to the directory for the object's lifetime.
    ~FakeTtyClass();

  private:
    QTemporaryDir dir_;
};

}  // namespace tarvik::test
