#include "base/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarvik {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // The terminal that started the program closed: end as on SIGTERM.
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void StopSignals::Block() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopSignals::Unblock() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool StopSignals::Pending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0)
        return false;
    const sigset_t set = StopSet();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&set, signal) == 1 && sigismember(&pending, signal) == 1)
            return true;
    }
    return false;
}

StopSignals::StopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
    const sigset_t set = StopSet();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "signalfd");
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
            if (received_ == 0) {
                received_ = static_cast<int>(info.ssi_signo);
                onStop_(received_);
            }
        }
    });
}

StopSignals::~StopSignals() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace tarvik
