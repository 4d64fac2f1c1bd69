#pragma once
// One pseudo-terminal as the simulated device's end of the line. The object
// holds the master and keeps a slave descriptor of its own, so the line
// survives a port closing and reopening. Destroying it closes both: every
// other opener of the slave then sees a hang-up (poll HUP, read 0, write
// EIO), which is what pulling a USB adapter looks like on a pty.
// Not thread-safe; used by one thread at a time.

#include <string>

namespace tarvik::sim {

class PtyLine {
  public:
    // A raw pty with a non-blocking master. Throws std::system_error when
    // the system has none to give.
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // The slave's path (/dev/pts/N): what a port opens.
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace tarvik::sim
