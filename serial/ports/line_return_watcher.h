#pragma once
// Watches for a device node (or a link to one) to come back at a path,
// without polling: inotify on the nearest folder on the way to it that
// exists, read through a QSocketNotifier on the main thread. It costs no
// wake-up while nothing changes in that folder.
//
// Main thread: created, called back and destroyed there.

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace cport {

class TLineReturnWatcher {
  public:
    // onChange runs on the main thread after each change in the watched
    // folder (something created, moved in or changed): it looks for itself
    // whether the path is back. Throws std::system_error when inotify cannot
    // be had.
    TLineReturnWatcher(std::string path, std::function<void()> onChange);
    ~TLineReturnWatcher();
    TLineReturnWatcher(const TLineReturnWatcher&) = delete;
    TLineReturnWatcher& operator=(const TLineReturnWatcher&) = delete;

    // The folder watched now.
    const std::string& Watched() const { return watched_; }

  private:
    // Watches the path's folder, or the nearest one above it that exists.
    void Arm();
    void OnReadable();

    std::string path_;
    std::function<void()> onChange_;
    int fd_ = -1;
    int watch_ = -1;
    std::string watched_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace cport
