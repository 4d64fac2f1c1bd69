#pragma once
// A serial device on a pseudo-terminal: it holds the master side, keeps the
// slave open itself (so the line survives a port closing and reopening) and
// answers what a port sends. Run() blocks; Stop() may be called from any
// thread or a signal handler.

#include <cstdint>
#include <string>

namespace tarvik::sim {

struct Behaviour {
    enum class Mode {
        kEcho,    // send back every received byte
        kReply,   // answer each received block with `reply`
        kStream,  // each received block starts a stream of streamBytes bytes
        kSilent,  // receive only
    };
    Mode mode = Mode::kEcho;
    std::string reply;
    std::uint64_t streamBytes = 0;
    std::uint64_t bytesPerSecond = 0;  // 0: as fast as the line takes them
};

// Byte n of a stream is n mod 251 (a prime, so blocks of power-of-two sizes
// do not repeat in step and a lost or doubled block shows).
inline std::uint8_t StreamByte(std::uint64_t n) {
    return static_cast<std::uint8_t>(n % 251);
}

class Simulator {
  public:
    // Throws std::system_error when no pseudo-terminal can be made.
    explicit Simulator(Behaviour behaviour);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The path a port opens.
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    void Run();
    void Stop();

    // Bytes received so far (read on the simulator's thread; approximate elsewhere).
    std::uint64_t Received() const { return received_; }

  private:
    void OnInput(const std::uint8_t* data, std::size_t count);
    bool Flush();

    Behaviour behaviour_;
    int master_ = -1;
    int slave_ = -1;
    int stop_ = -1;
    std::string slavePath_;
    std::string out_;       // waiting to be written, from outAt_ on
    std::size_t outAt_ = 0;
    std::uint64_t streamLeft_ = 0;
    std::uint64_t streamNext_ = 0;
    std::uint64_t received_ = 0;
};

// "\x41BC\n" style: backslash escapes \xHH, \n, \r, \t, \\ and \0; other bytes as they are.
std::string Unescape(const std::string& text);

}  // namespace tarvik::sim
