#include "serial/ports/port_watcher.h"

#include <libudev.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cport {

namespace {

std::string ErrorText(int error) {
    const char* what = strerrordesc_np(error);
    return what != nullptr ? what : "error " + std::to_string(error);
}

}  // namespace

std::string TPortChange::Text() const {
    return (Added ? "added " : "removed ") + Name;
}

bool TPortWatcher::UdevRuns() {
    // What libudev itself asks to tell whether udevd is there.
    return access("/run/udev/control", F_OK) == 0;
}

TPortWatcher::TPortWatcher(QObject* owner, TPortWatchSource source) : QObject(owner) {
    Start(source);
}

TPortWatcher::~TPortWatcher() {
    notifier_.reset();  // before its descriptor goes
    if (monitor_ != nullptr)
        udev_monitor_unref(monitor_);
    if (udev_ != nullptr)
        udev_unref(udev_);
}

void TPortWatcher::Start(TPortWatchSource source) {
    if (source == TPortWatchSource::None) {
        reason_ = "not asked to watch";
        return;
    }
    if (source != TPortWatchSource::Automatic) {
        Listen(source);
        return;
    }
    // udevd's news where it runs; the kernel's where it does not, or where
    // udevd's cannot be heard.
    if (UdevRuns() && Listen(TPortWatchSource::Udev))
        return;
    const std::string udevReason = reason_;
    if (!Listen(TPortWatchSource::Kernel) && !udevReason.empty())
        reason_ = udevReason + "; " + reason_;
}

bool TPortWatcher::Listen(TPortWatchSource source) {
    const char* name = source == TPortWatchSource::Udev ? "udev" : "kernel";
    const auto fail = [this, name](int error) {
        reason_ = std::string(name) + " monitor: " + ErrorText(error);
        if (monitor_ != nullptr)
            monitor_ = udev_monitor_unref(monitor_);
        return false;
    };
    if (udev_ == nullptr && (udev_ = udev_new()) == nullptr)
        return fail(errno != 0 ? errno : ENOMEM);
    errno = 0;
    monitor_ = udev_monitor_new_from_netlink(udev_, name);
    if (monitor_ == nullptr)
        return fail(errno != 0 ? errno : EPROTONOSUPPORT);
    if (const int e = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr);
        e < 0)
        return fail(-e);
    if (const int e = udev_monitor_enable_receiving(monitor_); e < 0)
        return fail(-e);
    const int fd = udev_monitor_get_fd(monitor_);
    if (fd < 0)
        return fail(-fd);
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { TakeNews(); });
    mode_ = source == TPortWatchSource::Udev ? TPortWatchMode::pwUdev : TPortWatchMode::pwKernel;
    reason_.clear();
    return true;
}

void TPortWatcher::TakeNews() {
    // Everything that waits, so the notifier is quiet again until new news:
    // the socket is non-blocking, and messages of other subsystems (the
    // kernel sends all of them) are dropped by libudev's filter here.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(device);
        const char* sysName = udev_device_get_sysname(device);
        TPortChange change;
        const bool known = action != nullptr && sysName != nullptr &&
                           (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
        if (known) {
            change.Added = std::strcmp(action, "add") == 0;
            change.Name = sysName;
            std::replace(change.Name.begin(), change.Name.end(), '!', '/');
        }
        udev_device_unref(device);
        if (known && onChange_)
            onChange_(change);
    }
}

}  // namespace cport
