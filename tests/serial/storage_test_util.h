#pragma once
// Helpers shared by the settings-storage tests: a private folder, whole-file
// reads, and a child process that is killed in the middle of its writes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace cport::testutil {

class TempFolder {
  public:
    TempFolder() { EXPECT_TRUE(dir_.isValid()); }
    std::filesystem::path operator/(const std::string& name) const {
        return std::filesystem::path(dir_.path().toStdString()) / name;
    }
    std::filesystem::path Path() const { return dir_.path().toStdString(); }

  private:
    QTemporaryDir dir_;
};

// The key the tests store a port's settings under.
inline constexpr const char* kKey = "Software\\Tarvik2\\C1";

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Runs step(n) for n = 1, 2, ... in a child process and kills it with
// SIGKILL once it has reported `rounds` finished steps, so the kill lands
// while the child is in the middle of a later step. No sleeps: the parent
// waits for the child's reports on a pipe.
inline void KillDuringWrites(const std::function<void(int)>& step, int rounds) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        for (int n = 1;; ++n) {
            try {
                step(n);
            } catch (...) {
                ::_exit(3);
            }
            char done = 'x';
            if (::write(pipeFds[1], &done, 1) != 1)
                ::_exit(4);
        }
    }
    ::close(pipeFds[1]);
    char done;
    for (int i = 0; i < rounds; ++i) ASSERT_EQ(::read(pipeFds[0], &done, 1), 1) << "child failed";
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeFds[0]);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the child ended by itself";
}

}  // namespace cport::testutil
