#pragma once
// A stable name for a pty whose own path changes with every replug: a
// symbolic link that is made, renewed and removed, as socat's `link=` does.
// Not thread-safe; used by one thread at a time.

#include <string>

namespace tarvik::sim {

class PtyLink {
  public:
    // Takes charge of `path`. Throws std::runtime_error, naming the path,
    // when something other than a symbolic link is there (a file, a
    // directory, a device node): that is never replaced. A symbolic link
    // already there (left by an earlier run) is taken over.
    explicit PtyLink(std::string path);
    // Removes the link.
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Points the link at `target`. The link is replaced in one step (a new
    // link renamed over the old), so an opener never finds it half made.
    // Throws std::system_error when the link cannot be made.
    void PointTo(const std::string& target);
    // Removes the link if it is there and still a symbolic link.
    void Remove();

    const std::string& Path() const { return path_; }

  private:
    void RefuseNonLink() const;

    std::string path_;
};

}  // namespace tarvik::sim
