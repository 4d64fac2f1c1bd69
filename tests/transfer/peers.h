#pragma once
// Real peers for the engine's tests: pty pairs made by socat, lrzsz started
// on one end, a relay that damages blocks between two pairs, files of random
// content in a temporary folder.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::transfer::test {

// A temporary folder, removed with what is in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string RandomBytes(std::size_t size, unsigned seed);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The entries of a folder (names), sorted.
std::vector<std::string> ListFolder(const std::string& path);

// socat pty,raw,echo=0,link=A pty,raw,echo=0,link=B
class PtyPair {
  public:
    explicit PtyPair(const std::string& folder, const std::string& name = "pair");
    ~PtyPair();
    const std::string& A() const { return a_; }
    const std::string& B() const { return b_; }
    // The line lost: socat ends, both ends hang up.
    void Cut();

  private:
    std::string a_, b_;
    pid_t socat_ = -1;
};

// Opens a pty end raw, read and write, not blocking.
int OpenRaw(const std::string& path);

// A program with a tty as its standard input and output, in `folder`.
class Peer {
  public:
    Peer(const std::vector<std::string>& argv, const std::string& tty, const std::string& folder);
    ~Peer();
    // The exit status, or -1 when it has not ended within `limit` (then it is killed).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Copies bytes both ways between two descriptors; in the direction from
// `in` to `out` it damages the blocks chosen: every `every`-th block header
// (SOH or STX) seen is dropped with its block, or has a byte flipped.
class Relay {
  public:
    enum class Damage { kDrop, kCorrupt };
    Relay(int in, int out, Damage damage, int every);
    ~Relay();
    int Damaged() const { return damaged_.load(); }

  private:
    void Run();
    int in_, out_;
    Damage damage_;
    int every_;
    int stop_;
    std::atomic<int> damaged_{0};
    std::thread thread_;
};

}  // namespace tarvik::transfer::test
