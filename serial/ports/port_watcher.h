#pragma once
// Ports that come and go: the kernel's (or udevd's) news of tty devices
// added and removed, as they happen, without polling. The watcher listens on
// libudev's monitor socket, filtered to the tty subsystem; the socket is
// watched by a QSocketNotifier, so the news is read and reported on the
// thread the watcher lives on (the main thread) and an idle watcher costs no
// wake-up at all.
//
// Source: "udev" when udevd runs (its news comes after the device node and
// the /dev/serial links exist), else "kernel" (the kernel's own uevents;
// the node may still be on its way). When no monitor can start (no
// netlink, no permission), the watcher says so through Mode() and reports
// nothing: the caller then reads the port list again (EnumComPorts)
// whenever the user opens it.
//
// Pseudo-terminals send no news; ports that come and go at the simulator's
// link are followed by the port itself, not here.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace cport {

enum class TPortWatchSource { Automatic, Udev, Kernel, None };
enum class TPortWatchMode {
    pwUdev,      // udevd's news
    pwKernel,    // the kernel's uevents
    pwOnDemand,  // no news: read the list again when it is shown
};

struct TPortChange {
    bool Added = false;
    std::string Name;  // the kernel's name, "ttyUSB0"; "/" where sysfs has "!"
    // "added ttyUSB0", "removed ttyUSB0".
    std::string Text() const;
};
using TPortChangeEvent = std::function<void(const TPortChange&)>;

class TPortWatcher : public QObject {
    Q_OBJECT

  public:
    // Starts watching at once; never raises. Main thread (or the thread
    // whose event loop is to deliver the news).
    explicit TPortWatcher(QObject* owner = nullptr,
                          TPortWatchSource source = TPortWatchSource::Automatic);
    ~TPortWatcher() override;

    TPortWatchMode Mode() const { return mode_; }
    // Why the watcher is on demand ("" while it watches), e.g.
    // "kernel monitor: Permission denied".
    const std::string& Reason() const { return reason_; }

    // Called for every tty added or removed, on the watcher's thread. The
    // handler must not destroy the watcher (deleteLater does).
    void SetOnChange(TPortChangeEvent handler) { onChange_ = std::move(handler); }

    // Whether udevd runs on this machine (its control socket exists).
    static bool UdevRuns();

  private:
    void Start(TPortWatchSource source);
    // Opens the monitor of one source; false with reason_ set when it cannot.
    bool Listen(TPortWatchSource source);
    void TakeNews();

    TPortWatchMode mode_ = TPortWatchMode::pwOnDemand;
    std::string reason_;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    TPortChangeEvent onChange_;
};

}  // namespace cport
