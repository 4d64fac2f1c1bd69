#pragma once
// A serial device on a pseudo-terminal: it holds the master side, keeps the
// slave open itself (so the line survives a port closing and reopening) and
// answers what a port sends. It can be unplugged (the pty goes: every opener
// of the slave sees a hang-up) and plugged in again (a new pty, with a new
// /dev/pts path); a symbolic link can follow it. Run() blocks; Stop(),
// Unplug() and Replug() may be called from any thread or a signal handler.
//
// What the device end of a pty cannot do (measured on Linux 6.x): a break
// (tcsendbreak and TIOCSBRK on the master succeed, the slave sees nothing),
// modem lines (TIOCMBIS/TIOCMGET fail with ENOTTY on either end), parity or
// framing errors (bytes arrive unmarked even with PARMRK) and line error
// counts (TIOCGICOUNT: ENOTTY). The hang-up is the one line event it gives;
// the rest is the fake device's job in tests.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/simulator/plug_clock.h"
#include "tools/simulator/replay_player.h"

namespace tarvik::sim {

struct Behaviour {
    enum class Mode {
        kEcho,    // send back every received byte
        kReply,   // answer each received block with `reply`
        kStream,  // each received block starts a stream of streamBytes bytes
        kSilent,  // receive only
        kReplay,  // play the received side of a capture (`replay`)
    };
    Mode mode = Mode::kEcho;
    std::string reply;
    std::uint64_t streamBytes = 0;
    std::uint64_t bytesPerSecond = 0;  // 0: as fast as the line takes them
    ReplayOptions replay = {};         // kReplay only
};

// Byte n of a stream is n mod 251 (a prime, so blocks of power-of-two sizes
// do not repeat in step and a lost or doubled block shows).
inline std::uint8_t StreamByte(std::uint64_t n) {
    return static_cast<std::uint8_t>(n % 251);
}

// How the device comes and goes.
struct Plugging {
    // A symbolic link made to point at each new pty and removed while the
    // device is unplugged and when the simulator ends; empty: none.
    std::string linkPath;
    PlugSchedule schedule = {};
    // Called on the simulator's thread after each replug, once the link
    // points at the new pty, with the new slave path.
    std::function<void(const std::string& slavePath)> onReplug = {};
};

class PtyLine;
class PtyLink;

class Simulator {
  public:
    // Makes the first pty (and points the link at it). Throws
    // std::system_error when no pseudo-terminal can be made, and
    // std::runtime_error when something other than a symbolic link is at
    // the link's path.
    explicit Simulator(Behaviour behaviour, Plugging plugging = {});
    // Removes the link; the pty goes.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The path a port opens: the current pty's, or the last one's while
    // unplugged. It changes on replug, on the simulator's thread: read it
    // there (onReplug) or while Run() is not running.
    const std::string& SlavePath() const { return slavePath_; }
    // The current pty's master; -1 while unplugged.
    int MasterFd() const;

    // Serves until Stop(). Throws std::system_error when a replug finds no
    // pty or the link cannot be renewed.
    void Run();
    // Requests, served by Run() in the order they were made. Each only
    // writes a byte to a pipe (Stop also sets a flag), so a signal handler
    // may call them. Unplug while unplugged and Replug while plugged do
    // nothing. (Different signals sent in quick succession may reach their
    // handlers in another order: the kernel's, not this class's.)
    void Stop();
    void Unplug();
    void Replug();

    // Bytes received so far (read on the simulator's thread; approximate elsewhere).
    std::uint64_t Received() const { return received_; }

  private:
    void OnInput(const std::uint8_t* data, std::size_t count);
    bool Flush();
    void Request(char command);
    // Serves the requests waiting in the pipe; false when one was Stop().
    bool TakeRequests();
    void DoUnplug(bool scheduled);
    void DoReplug();
    // Starts the next chunk of a stream if its time has come; otherwise the
    // milliseconds until it has (-1: no stream waits).
    int NextChunk();
    // Queues the replay's blocks that are due; when the next one is (none:
    // it waits for bytes or all are played).
    std::optional<std::chrono::steady_clock::time_point> NextReplay();

    Behaviour behaviour_;
    Plugging plugging_;
    PlugClock plugClock_;
    std::unique_ptr<PtyLine> line_;         // none while unplugged
    std::unique_ptr<PtyLink> link_;         // none without a link path
    std::unique_ptr<ReplayPlayer> player_;  // kReplay only
    int requests_[2] = {-1, -1};            // self-pipe: read end, write end
    std::string slavePath_;
    std::chrono::steady_clock::time_point nextSend_;
    std::string out_;  // waiting to be written, from outAt_ on
    std::size_t outAt_ = 0;
    std::uint64_t streamLeft_ = 0;
    std::uint64_t streamNext_ = 0;
    std::uint64_t received_ = 0;
    std::atomic<bool> stopping_{false};  // set by Stop(), which may run in a signal handler
    static_assert(std::atomic<bool>::is_always_lock_free);
};

// "\x41BC\n" style: backslash escapes \xHH, \n, \r, \t, \\ and \0; other bytes as they are.
std::string Unescape(const std::string& text);

}  // namespace tarvik::sim
