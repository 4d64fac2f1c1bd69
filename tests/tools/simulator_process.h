#pragma once
// tarvik-sim as a child process for tests: its standard output read line by
// line with a deadline, its standard error kept, signals sent to it. Also
// the port's side of the line: a pty slave opened by path.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::test {

using namespace std::chrono_literals;

class SimulatorProcess {
  public:
    // Starts tarvik-sim with `arguments`; throws when it cannot be started.
    explicit SimulatorProcess(const std::vector<std::string>& arguments);
    // Ends the process (SIGTERM) if it still runs.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The next line of standard output, without its newline; none when
    // none came within `limit` or the output ended.
    std::optional<std::string> NextLine(std::chrono::milliseconds limit = 5s);
    void Signal(int signal) const;
    // Waits for the process to end and gives its exit status (-1: killed by a signal).
    int Wait();
    // Everything the process wrote to standard error; call after Wait().
    std::string Errors();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;  // output read but not yet handed out as a line
};

// The port's end: a slave opened by path (O_NONBLOCK, no controlling tty).
class PortEnd {
  public:
    explicit PortEnd(const std::string& path);
    ~PortEnd();
    PortEnd(const PortEnd&) = delete;
    PortEnd& operator=(const PortEnd&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Errno() const { return errno_; }
    // Writes `bytes` and gives what comes back: `count` bytes, or fewer if
    // the limit passed first.
    std::string Exchange(const std::string& bytes, std::size_t count,
                         std::chrono::milliseconds limit = 5s);
    // True when poll reports a hang-up within `limit`, and reading then gives
    // end of file or EIO.
    bool SeesHangUp(std::chrono::milliseconds limit = 5s);

  private:
    int fd_ = -1;
    int errno_ = 0;
};

}  // namespace tarvik::test
