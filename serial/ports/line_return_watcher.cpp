#include "serial/ports/line_return_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace cport {

namespace {

// What a returning device (or a renewed link) does to its folder: udev
// creates the node and its links, then sets their owner and mode; a link is
// renewed by a rename over the old one. The folder itself may go away.
constexpr std::uint32_t kWatchedChanges =
    IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

TLineReturnWatcher::TLineReturnWatcher(std::string path, std::function<void()> onChange)
    : path_(std::move(path)), onChange_(std::move(onChange)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch for " + path_);
    Arm();
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
}

TLineReturnWatcher::~TLineReturnWatcher() {
    notifier_.reset();
    ::close(fd_);
}

void TLineReturnWatcher::Arm() {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(path_).parent_path();
    std::error_code error;
    while (!folder.empty() && !fs::is_directory(folder, error) && folder != folder.root_path())
        folder = folder.parent_path();
    if (folder.empty())
        folder = ".";
    if (folder.string() == watched_ && watch_ >= 0)
        return;
    if (watch_ >= 0)
        inotify_rm_watch(fd_, watch_);
    watch_ = -1;
    watch_ = inotify_add_watch(fd_, folder.c_str(), kWatchedChanges);
    if (watch_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch " + folder.string());
    watched_ = folder.string();
}

void TLineReturnWatcher::OnReadable() {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_IGNORED) != 0 && event->wd == watch_)
                watch_ = -1;  // the folder went: the kernel dropped the watch
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // A folder on the way may have appeared (or the watched one gone): watch
    // the nearest one again before looking.
    Arm();
    onChange_();
}

}  // namespace cport
