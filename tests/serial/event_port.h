#pragma once
// A port for the event-delivery tests, with the helpers they share: a
// recorder of handler calls, a pseudo-terminal pair and per-thread counters.
//

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "serial/port/com_buffer.h"
#include "serial/error/com_error.h"
#include "serial/port/com_port.h"
#include "serial/device/com_device.h"

namespace cport::testutil {

class EventPort : public TComPort {
  public:
    using TComPort::TComPort;

    // Reads what is there, up to count bytes (main thread, or the event
    // thread under smNone). Raises EComPort 3 on a device failure.
    std::string ReadBytes(std::int32_t count);
    // Writes all bytes, waiting for the device (raises EComPort 2).
    void WriteBytes(const std::string& bytes);

    // The steps the tests call one by one.
    using TComPort::NotifyWindowProc;
    using TComPort::ReportSignals;
};

// Handler calls in order: "RxChar 3", "CTS 1", "Error 0x01", ... Any thread.
class Recorder {
  public:
    void Add(const std::string& call);
    void AddReceived(const std::string& bytes);
    std::vector<std::string> Calls() const;
    std::size_t Size() const;
    // The bytes OnRxChar read, in order.
    std::string Received() const;
    // Calls made on a thread other than the main thread.
    std::size_t OffMainThread() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string received_;
    std::size_t offMain_ = 0;
};

// Assigns every handler of port to record into recorder. OnRxChar also reads
// the announced bytes into the recorder.
void RecordAll(EventPort& port, Recorder& recorder);

// A pseudo-terminal pair: the test holds the master, a port opens SlavePath().
class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return path_; }
    int MasterFd() const { return master_; }
    void Write(const std::string& bytes);
    // Hangs the line up: closes the master.
    void HangUp();

  private:
    int master_ = -1;
    std::string path_;
};

// Voluntary context switches of a thread of this process (/proc).
long VoluntarySwitches(pid_t tid);
// CPU time of a thread of this process, in nanoseconds.
long long ThreadCpuNs(pid_t tid);

}  // namespace cport::testutil
