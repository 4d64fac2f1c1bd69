// A port that another program has, by holding the device open without any
// lock or by a UUCP lock file, is refused; the far end of a pty (the process
// tree at its master, as real socat makes it) is not another program; we
// hold a lock file of our own while open.

#include "serial/device/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;

#include "pty_fixture.h"

namespace cport::device {
namespace {

// Another process, alive until destruction: it opens `path` itself (as
// `cat /dev/pts/N` would, with no lock), keeping the pty master as a
// simulator does when `keepMaster` is not -1, or holds nothing at all.
class OtherProcess {
  public:
    OtherProcess(const std::string& path, int master, int slave, bool holdPath, bool keepMaster) {
        int ready[2];
        int stop[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(stop), 0);
        pid_ = fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(stop[1]);
            ::close(slave);
            if (!keepMaster)
                ::close(master);
            if (holdPath && ::open(path.c_str(), O_RDWR | O_NOCTTY) < 0)
                _exit(1);
            char c = 1;
            (void)!::write(ready[1], &c, 1);
            (void)!::read(stop[0], &c, 1);  // until the test closes its end
            _exit(0);
        }
        ::close(ready[1]);
        ::close(stop[0]);
        stop_ = stop[1];
        char c = 0;
        EXPECT_EQ(::read(ready[0], &c, 1), 1) << "the other process did not start";
        ::close(ready[0]);
    }
    ~OtherProcess() { End(); }
    void End() {
        if (pid_ <= 0)
            return;
        ::close(stop_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int stop_ = -1;
};

std::string LockPath(const std::string& device) {
    return "/run/lock/" + LockFileName(device, false);
}

void WriteLock(const std::string& device, const std::string& contents) {
    std::ofstream(LockPath(device)) << contents;
}

std::string ReadLock(const std::string& device) {
    std::ifstream in(LockPath(device));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(PtyTest, APortAnotherProgramHasIsRefused) {
    enum Holder { kPlainOpen, kFarEnd, kLiveLock, kDeadLock, kGarbageLock, kOwnProcess };
    struct Row {
        const char* what;
        Holder holder;
        bool refused;
    };
    const Row rows[] = {
        {"opened by another program, no lock", kPlainOpen, true},
        {"held by the program at the pty's master", kFarEnd, false},
        {"lock file of a live process", kLiveLock, true},
        {"lock file of a process that is gone", kDeadLock, false},
        {"lock file without a process id", kGarbageLock, false},
        {"opened again by this process", kOwnProcess, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        OtherProcess other(path_, master_, slave_,
                           row.holder == kPlainOpen || row.holder == kFarEnd,
                           row.holder == kFarEnd);
        if (row.holder == kLiveLock)
            WriteLock(path_, std::to_string(other.Pid()) + "\n");
        if (row.holder == kDeadLock) {
            const pid_t gone = other.Pid();
            other.End();
            WriteLock(path_, "      " + std::to_string(gone) + "\n");
        }
        if (row.holder == kGarbageLock)
            WriteLock(path_, "none\n");
        const int own = row.holder == kOwnProcess ? ::open(path_.c_str(), O_RDWR | O_NOCTTY) : -1;

        const ComHandle h = dev_.CreateFileA(path_);
        if (row.refused) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(dev_.GetLastError(), EBUSY);
        } else {
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << dev_.GetLastError();
            // Ours while open, as minicom or picocom would see it.
            EXPECT_EQ(LockFilePid(ReadLock(path_)), getpid());
            EXPECT_TRUE(dev_.CloseHandle(h));
            EXPECT_EQ(access(LockPath(path_).c_str(), F_OK), -1);
        }
        if (own >= 0)
            ::close(own);
        ::unlink(LockPath(path_).c_str());
    }
    EXPECT_EQ(LockFileName("/dev/pts/3", true), "LCK..3");
    EXPECT_EQ(LockFileName("/dev/ttyS0", false), "LCK..ttyS0");
    EXPECT_EQ(LockFilePid(std::string("\x01\x02\x00\x00", 4)), 513);  // the old binary form
}

// A program in a process group of its own, ended with its whole group.
class Program {
  public:
    Program(std::vector<std::string> arguments, const std::string& input = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY | O_NOCTTY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~Program() {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// The processes that hold the character device `rdev` open, and their names.
std::vector<std::pair<pid_t, std::string>> Openers(dev_t rdev) {
    namespace fs = std::filesystem;
    std::vector<std::pair<pid_t, std::string>> found;
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            struct stat st;
            if (stat(fd.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
                std::string name;
                std::getline(std::ifstream(process.path() / "comm"), name);
                found.emplace_back(std::stoi(pid), name);
                break;
            }
        }
    }
    return found;
}

// `socat pty,link=P SYSTEM:prog,pty` leaves P's slave inherited by the shell
// and the program socat starts: they are the line's far end. A process of
// another tree that holds the slave still makes the port busy.
TEST(PtyFarEnd, TheProcessTreeAtTheMasterIsTheFarEnd) {
    if (access("/usr/bin/socat", X_OK) != 0)
        GTEST_SKIP() << "needs socat";
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "tarvik-socat-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const std::string link = (dir / "P").string();
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    Program socat({"socat", "pty,raw,echo=0,link=" + link, "SYSTEM:sleep 60,pty"});
    struct stat node {};
    const auto sleepHolds = [&] {
        if (stat(link.c_str(), &node) != 0)
            return false;
        for (const auto& [pid, name] : Openers(node.st_rdev))
            if (name == "sleep")
                return true;
        return false;
    };
    ASSERT_TRUE(WaitUntil(sleepHolds, std::chrono::seconds(20))) << "socat did not start sleep";
    EXPECT_EQ(DeviceHolders(node.st_rdev), std::vector<pid_t>{});
    PosixComDevice dev;
    const ComHandle h = dev.CreateFileA(link);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << dev.GetLastError();
    EXPECT_TRUE(dev.CloseHandle(h));

    // Not of socat's tree: this program starts it, with P as its input.
    Program other({"sleep", "60"}, link);
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& [pid, name] : Openers(node.st_rdev))
            if (pid == other.Pid())
                return true;
        return false;
    }));
    EXPECT_EQ(DeviceHolders(node.st_rdev), std::vector<pid_t>{other.Pid()});
    EXPECT_EQ(dev.CreateFileA(link), INVALID_HANDLE_VALUE);
    EXPECT_EQ(dev.GetLastError(), EBUSY);
}

}  // namespace
}  // namespace cport::device
