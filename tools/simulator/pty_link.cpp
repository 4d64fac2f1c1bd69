#include "tools/simulator/pty_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace tarvik::sim {

PtyLink::PtyLink(std::string path) : path_(std::move(path)) {
    RefuseNonLink();
}

PtyLink::~PtyLink() {
    Remove();
}

void PtyLink::RefuseNonLink() const {
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::runtime_error("--link " + path_ +
                                 ": something other than a symbolic link is there; "
                                 "it is not replaced");
    }
}

void PtyLink::PointTo(const std::string& target) {
    // Checked again: something may have been put there since the last time.
    RefuseNonLink();
    const std::string fresh = path_ + ".tarvik-sim-" + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(), "--link " + path_);
    }
    if (std::rename(fresh.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        throw std::system_error(error, std::generic_category(), "--link " + path_);
    }
}

void PtyLink::Remove() {
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(path_.c_str());
    }
}

}  // namespace tarvik::sim
