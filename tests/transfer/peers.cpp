#include "peers.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tarvik::transfer::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "transfer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

PtyPair::PtyPair(const std::string& folder, const std::string& name)
    : a_(folder + "/" + name + "-a"), b_(folder + "/" + name + "-b") {
    socat_ = fork();
    if (socat_ == 0) {
        const std::string left = "pty,raw,echo=0,link=" + a_;
        const std::string right = "pty,raw,echo=0,link=" + b_;
        execlp("socat", "socat", left.c_str(), right.c_str(), nullptr);
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(Exists(a_) && Exists(b_))) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("socat made no pty pair");
        usleep(2000);  // socat gives no other sign that its links exist
    }
}

PtyPair::~PtyPair() { Cut(); }

void PtyPair::Cut() {
    if (socat_ <= 0)
        return;
    kill(socat_, SIGTERM);
    waitpid(socat_, nullptr, 0);
    socat_ = -1;
}

int OpenRaw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

Peer::Peer(const std::vector<std::string>& argv, const std::string& tty, const std::string& folder) {
    pid_ = fork();
    if (pid_ == 0) {
        const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(fd, 0);
        dup2(fd, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
}

Peer::~Peer() {
    if (status_ == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int Peer::Wait(std::chrono::milliseconds limit) {
    if (status_ != -1)
        return status_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = -2;
            return -1;
        }
        usleep(5000);  // no descriptor tells a child's end without a signal handler
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

Relay::Relay(int in, int out, Damage damage, int every)
    : in_(in), out_(out), damage_(damage), every_(every), stop_(eventfd(0, EFD_CLOEXEC)),
      thread_([this] { Run(); }) {}

Relay::~Relay() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(stop_, &one, sizeof one);
    thread_.join();
    close(stop_);
}

namespace {
void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else {
            pollfd room{fd, POLLOUT, 0};
            poll(&room, 1, 100);
        }
    }
}
}  // namespace

void Relay::Run() {
    int headers = 0;
    std::size_t dropping = 0;  // bytes of a dropped block still to pass over
    char buffer[8192];
    for (;;) {
        pollfd fds[3] = {{in_, POLLIN, 0}, {out_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 || (fds[2].revents & POLLIN))
            return;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n > 0)
                WriteAll(in_, buffer, static_cast<std::size_t>(n));
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(in_, buffer, sizeof buffer);
            std::string forward;
            for (ssize_t i = 0; i < n; ++i) {
                const unsigned char c = static_cast<unsigned char>(buffer[i]);
                if (dropping > 0) {
                    --dropping;
                    continue;
                }
                // A header byte at the start of a read is taken for a block:
                // the senders write each block in one piece.
                if ((c == 0x01 || c == 0x02) && i == 0 && n > 100 && ++headers % every_ == 0) {
                    ++damaged_;
                    if (damage_ == Damage::kDrop) {
                        dropping = static_cast<std::size_t>(n) - 1;
                        continue;
                    }
                    buffer[i + 50] = static_cast<char>(buffer[i + 50] ^ 0x55);
                }
                forward += static_cast<char>(c);
            }
            if (!forward.empty())
                WriteAll(out_, forward.data(), forward.size());
        }
    }
}

}  // namespace tarvik::transfer::test
