// Why an open failed: permission from a node's stat data (root passes every
// permission check, so the verdict is built from the facts), busy with a
// second holder of a real pty (this program, then another process), gone.

#include "serial/ports/open_failure.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "serial/port/com_port.h"
#include "serial/device/port_lock.h"
#include "serial/device/posix_com_device.h"
#include "tests/serial/port_fixtures.h"
#include "tests/serial_device/pty_fixture.h"

extern char** environ;

namespace cport {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

// A node in a temporary folder with the mode and group of a serial device.
struct Node {
    Node() {
        std::string pattern = (fs::temp_directory_path() / "tarvik-node-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        path = dir + "/ttyUSB0";
        std::ofstream(path) << "";
        chmod(path.c_str(), 0660);
        const group* dialout = getgrnam("dialout");
        gid = dialout != nullptr ? dialout->gr_gid : 20;
        if (chown(path.c_str(), 0, gid) != 0)
            gid = getegid();
    }
    ~Node() { fs::remove_all(dir); }
    std::string dir;
    std::string path;
    gid_t gid = 0;
};

TEST(WhyOpenFailed, PermissionNamesTheGroupAndTheCommand) {
    Node node;
    struct stat st {};
    ASSERT_EQ(stat(node.path.c_str(), &st), 0);
    const group* gr = getgrgid(node.gid);
    const std::string groupName = gr != nullptr ? gr->gr_name : "";
    ASSERT_FALSE(groupName.empty());

    OpenFailureFacts facts;
    facts.port = "ttyUSB0";
    facts.devicePath = node.path;
    facts.error = EACCES;
    facts.userName = "bob";
    struct Row {
        bool listed;
        std::vector<gid_t> groups;
        const char* expected;
        const char* absent;
    };
    const Row rows[] = {
        {false, {1000}, "sudo usermod -aG ", "was added"},
        {true, {1000}, "log out and in again", "usermod"},
    };
    for (const Row& row : rows) {
        facts.access = JudgeNodeAccess(st, 1000, row.groups, row.listed);
        facts.access.groupName = groupName;
        facts.access.ownerName = "root";
        const std::string text = ExplainOpenFailure(facts);
        EXPECT_THAT(text, HasSubstr("group \"" + groupName + "\"")) << text;
        EXPECT_THAT(text, HasSubstr("crw-rw----")) << text;
        EXPECT_THAT(text, HasSubstr(row.expected)) << text;
        EXPECT_THAT(text, Not(HasSubstr(row.absent))) << text;
    }
    EXPECT_THAT(ExplainOpenFailure(facts), HasSubstr("user \"bob\""));
    // Owner-only: no group to join.
    chmod(node.path.c_str(), 0600);
    ASSERT_EQ(stat(node.path.c_str(), &st), 0);
    facts.access = JudgeNodeAccess(st, 1000, {1000}, false);
    facts.access.ownerName = "root";
    EXPECT_THAT(ExplainOpenFailure(facts), HasSubstr("owner \"root\" only"));
    // The kernel's console says so whatever else failed.
    facts.isConsole = true;
    EXPECT_THAT(ExplainOpenFailure(facts), HasSubstr("kernel's console"));
}

// The real gathering, as a user who may not open the node: the test runs
// itself again under setpriv as nobody, without groups, on a root:dialout
// 0660 node; the inner run opens it, fails and explains.
TEST(WhyOpenFailed, PermissionAsAnotherUser) {
    if (const char* inner = std::getenv("TARVIK_NODE_UNDER_TEST")) {
        ASSERT_NE(geteuid(), 0u);
        ASSERT_LT(::open(inner, O_RDWR | O_NOCTTY), 0);
        ASSERT_EQ(errno, EACCES);
        const std::string text = ExplainOpenFailure(inner, EACCES);
        EXPECT_THAT(text, HasSubstr("belongs to group \"dialout\" and user \"nobody\" is not in"))
            << text;
        EXPECT_THAT(text, HasSubstr("sudo usermod -aG dialout $USER")) << text;
        return;
    }
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 || getgrnam("dialout") == nullptr)
        GTEST_SKIP() << "needs root, setpriv and a dialout group";
    Node node;
    ASSERT_EQ(node.gid, getgrnam("dialout")->gr_gid);
    chmod(node.dir.c_str(), 0755);
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (std::system((asNobody + "test -x " + self).c_str()) != 0)
        GTEST_SKIP() << "nobody cannot run " << self;
    const std::string command = "TARVIK_NODE_UNDER_TEST=" + node.path + " " + asNobody + self +
                                " --gtest_filter=WhyOpenFailed.PermissionAsAnotherUser"
                                " > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// Lock files as a user who may not remove them: the test runs itself again
// under setpriv as nobody on a pty of its own. A stale lock of root's is
// named with the way out, not "busy: another program"; a stale one nobody
// may write is taken over; without access to the node the permission is
// told first, whatever lock there is.
TEST(WhyOpenFailed, LockFilesAsAnotherUser) {
    const char* inner = std::getenv("TARVIK_PTY_UNDER_TEST");
    const char* lockCase = std::getenv("TARVIK_LOCK_CASE");
    if (inner != nullptr && lockCase != nullptr) {
        ASSERT_NE(geteuid(), 0u);
        const std::string lock =
            "/run/lock/" + device::LockFileName(fs::canonical(inner).string(), false);
        TComPort port;
        port.SetDevice(device::PosixComDevice::Instance());
        port.SetPort(inner);
        port.SetEvents({});
        const auto error = testutil::Raised([&] { port.Open(); });
        const std::string which = lockCase;
        if (which == "writable") {
            ASSERT_FALSE(error) << error->what();
            std::ifstream held(lock);
            EXPECT_EQ(device::LockFilePid(std::string(std::istreambuf_iterator<char>(held), {})),
                      getpid());
            port.Close();
            std::ifstream after(lock);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "");
            return;
        }
        ASSERT_TRUE(error);
        const std::string text = ExplainOpenFailure(inner, error->WinErrorCode());
        if (which == "stale") {
            EXPECT_EQ(error->WinErrorCode(), EBUSY);
            EXPECT_THAT(text, HasSubstr("the lock file " + lock + " names process ")) << text;
            EXPECT_THAT(text, HasSubstr(", which has ended, but user \"nobody\" may not remove "
                                        "it: it belongs to user \"root\". Have it removed"))
                << text;
            EXPECT_THAT(text, HasSubstr("(sudo rm " + lock + ") and try again.")) << text;
        } else {
            EXPECT_EQ(error->WinErrorCode(), EACCES);
            EXPECT_THAT(text, testing::StartsWith("Permission denied")) << text;
        }
        return;
    }
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 || access("/run/lock", W_OK) != 0)
        GTEST_SKIP() << "needs root, setpriv and /run/lock";
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (std::system((asNobody + "test -x " + self).c_str()) != 0)
        GTEST_SKIP() << "nobody cannot run " << self;
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    struct Row {
        const char* lockCase;
        mode_t nodeMode;
        std::string contents;
        mode_t lockMode;
    };
    const Row rows[] = {
        {"stale", 0666, std::to_string(gone) + "\n", 0644},
        {"writable", 0666, std::to_string(gone) + "\n", 0666},
        {"no access", 0600, std::to_string(getpid()) + "\n", 0644},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lockCase);
        int master = -1;
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        chmod(name, row.nodeMode);
        const std::string lock = "/run/lock/" + device::LockFileName(name, false);
        std::ofstream(lock) << row.contents;
        chmod(lock.c_str(), row.lockMode);
        const std::string command = std::string("TARVIK_PTY_UNDER_TEST=") + name +
                                    " TARVIK_LOCK_CASE='" + row.lockCase + "' " + asNobody + self +
                                    " --gtest_filter=WhyOpenFailed.LockFilesAsAnotherUser";
        EXPECT_EQ(std::system((command + " > /dev/null 2>&1").c_str()), 0) << command;
        ::unlink(lock.c_str());
        ::close(master);
    }
}

class WhyOpenFailedBusy : public device::PtyTest {
  protected:
    std::optional<EComPort> OpenFails(TComPort& port) {
        port.SetDevice(device::PosixComDevice::Instance());
        port.SetPort(path_);
        port.SetEvents({});
        return testutil::Raised([&] { port.Open(); });
    }
};

TEST_F(WhyOpenFailedBusy, NamesTheHolder) {
    TComPort first;
    first.SetDevice(device::PosixComDevice::Instance());
    first.SetPort(path_);
    first.SetEvents({});
    first.Open();
    TComPort second;
    auto error = OpenFails(second);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecOpen);
    std::string text = ExplainOpenFailure(path_, error->WinErrorCode());
    EXPECT_THAT(text, HasSubstr("busy")) << text;
    EXPECT_THAT(text, HasSubstr("this program has it open already")) << text;
    first.Close();

    // Another process holds the line: `sleep` with the pty as its input.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, path_.c_str(), O_RDONLY | O_NOCTTY, 0);
    // Not the master: a holder of both ends is the line's far end, not a rival.
    posix_spawn_file_actions_addclose(&actions, master_);
    posix_spawn_file_actions_addclose(&actions, slave_);
    pid_t child = 0;
    char sleepName[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleepName, seconds, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } reaper{child};
    const std::string fd0 = "/proc/" + std::to_string(child) + "/fd/0";
    ASSERT_TRUE(device::WaitUntil([&] {
        std::error_code ec;
        return fs::read_symlink(fd0, ec) == path_;
    }));
    TComPort third;
    error = OpenFails(third);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->WinErrorCode(), EBUSY);
    text = ExplainOpenFailure(path_, error->WinErrorCode());
    EXPECT_THAT(text, HasSubstr("process " + std::to_string(child) + " (sleep) has it open"))
        << text;
}

TEST(WhyOpenFailed, GoneSaysSo) {
    TComPort port;
    port.SetPort("ttyNoSuchPort7");
    port.SetEvents({});
    auto error = testutil::Raised([&] { port.Open(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->WinErrorCode(), ENOENT);
    const std::string text = ExplainOpenFailure("ttyNoSuchPort7", error->WinErrorCode());
    EXPECT_THAT(text, HasSubstr("/dev/ttyNoSuchPort7 is not there")) << text;
    EXPECT_THAT(ExplainOpenFailure("ttyNoSuchPort7", EPROTO), HasSubstr("Protocol error"));
}

}  // namespace
}  // namespace cport
