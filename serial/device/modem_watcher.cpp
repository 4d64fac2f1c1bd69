#include "serial/device/modem_watcher.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>

namespace cport::device {

namespace {

// TIOCMIWAIT sleeps until a line changes or a signal arrives; closing the
// descriptor does not wake it. A real-time signal with an empty handler
// (installed without SA_RESTART) makes it return EINTR.
int WakeSignal() {
    static const int signal = [] {
        const int s = SIGRTMIN + 3;
        struct sigaction action = {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(s, &action, nullptr);
        return s;
    }();
    return signal;
}

}  // namespace

void ModemWatcher::Start(int fd, std::function<void()> onChange) {
    if (thread_.joinable()) {
        return;
    }
    WakeSignal();
    onChange_ = std::move(onChange);
    stop_ = false;
    hasEnded_ = false;
    thread_ = std::thread([this, fd] { Run(fd); });
}

void ModemWatcher::Run(int fd) {
    const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
    while (!stop_.load()) {
        if (ioctl(fd, TIOCMIWAIT, lines) == 0) {
            onChange_();
        } else if (errno != EINTR) {
            break;  // the device cannot do it, or went away
        }
    }
    std::lock_guard lock(mutex_);
    hasEnded_ = true;
    ended_.notify_all();
}

void ModemWatcher::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stop_ = true;
    // The signal may come just before the thread enters the ioctl; send it
    // again until the thread has gone.
    std::unique_lock lock(mutex_);
    while (!hasEnded_) {
        pthread_kill(thread_.native_handle(), WakeSignal());
        ended_.wait_for(lock, std::chrono::milliseconds(5));
    }
    lock.unlock();
    thread_.join();
}

}  // namespace cport::device
