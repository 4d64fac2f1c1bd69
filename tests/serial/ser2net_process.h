#pragma once
// ser2net as a child process for tests and benchmarks: serves one device path
// on 127.0.0.1, over RFC 2217 on one TCP port and raw TCP on another, from a
// configuration written into a folder of the caller's. Started again on the
// same ports after a Stop.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace cport::testutil {

class Ser2net {
  public:
    // Picks two free ports; writes the configuration. Start() runs it.
    Ser2net(std::string folder, std::string devicePath);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts ser2net and waits (5 s at most) until both ports take
    // connections; false if it did not come up.
    bool Start();
    // Ends it (SIGTERM) and waits for it.
    void Stop();
    // Waits (5 s at most) until ser2net no longer holds the device, which it
    // gives back a moment after a client leaves: a client that comes sooner
    // is told "Port's device already in use".
    bool WaitReleased() const;

    std::string Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfcPort_); }
    std::string RawUrl() const { return "socket://127.0.0.1:" + std::to_string(rawPort_); }
    std::uint16_t RawPort() const { return rawPort_; }

  private:
    std::string folder_;
    std::string device_;
    std::string config_;
    std::uint16_t rfcPort_ = 0;
    std::uint16_t rawPort_ = 0;
    pid_t pid_ = -1;
};

// A free TCP port on 127.0.0.1 (asked of the kernel, then released).
std::uint16_t FreeLoopbackPort();

// Whether something listens on 127.0.0.1:port (or on every address).
bool Listening(std::uint16_t port);

}  // namespace cport::testutil
