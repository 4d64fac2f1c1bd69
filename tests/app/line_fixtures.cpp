#include "line_fixtures.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace tarvik::test {

SimulatorThread::SimulatorThread(sim::Behaviour behaviour, sim::Plugging plugging)
    : simulator_(std::move(behaviour), std::move(plugging)),
      thread_([this] { simulator_.Run(); }) {}

SimulatorThread::~SimulatorThread() {
    simulator_.Stop();
    thread_.join();
}

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "openpty");
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    close(slave_);
    close(master_);
}

std::string PtyPair::ReadAll(std::chrono::milliseconds limit, std::chrono::milliseconds quiet) {
    std::string bytes;
    auto wait = limit;
    for (;;) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(wait.count())) <= 0)
            return bytes;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        wait = quiet;
    }
}

std::string PtyPair::Read(std::size_t count, std::chrono::milliseconds limit) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EAGAIN) {
                pollfd fd{master_, POLLOUT, 0};
                poll(&fd, 1, 1000);
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "write to pty master");
        }
        done += static_cast<std::size_t>(n);
    }
}

void PtyPair::FillTowardsMaster() {
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
    const std::string block(4096, 'f');
    // The kernel moves bytes on to the master's side in the background, so
    // room can come back after a first refusal: fill until none comes back.
    for (;;) {
        while (write(slave_, block.data(), block.size()) > 0) {
        }
        pollfd fd{slave_, POLLOUT, 0};
        if (poll(&fd, 1, 200) <= 0)
            break;
    }
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) & ~O_NONBLOCK);
}

FakeTtyClass::FakeTtyClass(const std::vector<std::string>& ports) {
    const QDir root(dir_.path());
    for (const std::string& port : ports) {
        const QString name = QString::fromStdString(port);
        root.mkpath(name + QStringLiteral("/device"));
    }
    qputenv("TARVIK_TTY_CLASS_DIR", QFile::encodeName(dir_.path()));
}

FakeTtyClass::~FakeTtyClass() {
    qunsetenv("TARVIK_TTY_CLASS_DIR");
}

}  // namespace tarvik::test
