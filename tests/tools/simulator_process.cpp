#include "simulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace tarvik::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::vector<std::string>& arguments) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(TARVIK_SIM_PATH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid_, TARVIK_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (failed != 0)
        throw std::runtime_error("cannot start " TARVIK_SIM_PATH);
}

SimulatorProcess::~SimulatorProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
}

std::optional<std::string> SimulatorProcess::NextLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0)
            return std::nullopt;
        char buffer[256];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void SimulatorProcess::Signal(int signal) const {
    kill(pid_, signal);
}

int SimulatorProcess::Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SimulatorProcess::Errors() {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(err_, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

PortEnd::PortEnd(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
      errno_(fd_ < 0 ? errno : 0) {}

PortEnd::~PortEnd() {
    if (fd_ >= 0)
        close(fd_);
}

std::string PortEnd::Exchange(const std::string& bytes, std::size_t count,
                              std::chrono::milliseconds limit) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        return "(write failed)";
    const auto deadline = Clock::now() + limit;
    std::string got;
    while (got.size() < count) {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0)
            break;
        char buffer[256];
        const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

bool PortEnd::SeesHangUp(std::chrono::milliseconds limit) {
    pollfd fd{fd_, POLLIN, 0};
    const auto deadline = Clock::now() + limit;
    // Bytes still on their way may come first; they are not the hang-up.
    while (poll(&fd, 1, MillisecondsLeft(deadline)) > 0 && (fd.revents & POLLHUP) == 0) {
        char buffer[256];
        if (read(fd_, buffer, sizeof buffer) <= 0)
            break;
    }
    if ((fd.revents & POLLHUP) == 0)
        return false;
    char c;
    const ssize_t n = read(fd_, &c, 1);
    return n == 0 || (n < 0 && errno == EIO);
}

}  // namespace tarvik::test
