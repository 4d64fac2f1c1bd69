// tarvik-sim's unplug and replug as a port meets them: through the link, on
// a signal and on a schedule, with the hang-up seen by the open port and the
// device's behaviour on each new pty; and the link that is refused.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "simulator_process.h"
#include "tools/simulator/simulator.h"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

class SimulatorPlugTest : public ::testing::Test {
  protected:
    SimulatorPlugTest() {
        char pattern[] = "/tmp/tarvik-sim-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        link_ = (dir_ / "device").string();
    }
    ~SimulatorPlugTest() override { fs::remove_all(dir_); }

    std::string LinkTarget() const {
        std::error_code error;
        return fs::read_symlink(link_, error).string();
    }
    bool LinkGone() const {
        struct stat st;
        return lstat(link_.c_str(), &st) != 0 && errno == ENOENT;
    }
    // The line printed for a new pty: the link points at it and a port
    // opened through the link talks to the device.
    void ExpectServing(SimulatorProcess& simulator, const std::string& what) {
        const auto path = simulator.NextLine();
        ASSERT_TRUE(path.has_value()) << what;
        EXPECT_EQ(LinkTarget(), *path) << what;
        PortEnd port(link_);
        ASSERT_TRUE(port.IsOpen()) << what << ": errno " << port.Errno();
        EXPECT_EQ(port.Exchange("ping", 4), "ping") << what;
    }

    fs::path dir_;
    std::string link_;
};

TEST_F(SimulatorPlugTest, LinkFollowsUnplugAndReplugBySignal) {
    SimulatorProcess simulator({"--link", link_});
    const auto first = simulator.NextLine();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(LinkTarget(), *first);
    PortEnd port(link_);
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Exchange("abc", 3), "abc");

    simulator.Signal(SIGUSR1);
    EXPECT_TRUE(port.SeesHangUp());
    // The link went before the pty did.
    EXPECT_TRUE(LinkGone());
    EXPECT_FALSE(PortEnd(*first).IsOpen());

    simulator.Signal(SIGUSR2);
    ExpectServing(simulator, "first replug");
    // A replug while plugged changes nothing.
    simulator.Signal(SIGUSR2);
    PortEnd again(link_);
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.Exchange("xyz", 3), "xyz");

    simulator.Signal(SIGTERM);
    EXPECT_EQ(simulator.Wait(), 0);
    EXPECT_TRUE(LinkGone());
    EXPECT_FALSE(simulator.NextLine(0ms).has_value()) << "a replug while plugged printed a line";
}

TEST_F(SimulatorPlugTest, LinkFollowsUnplugAndReplugOnASchedule) {
    SimulatorProcess simulator(
        {"--link", link_, "--unplug-after", "500", "--replug-after", "50", "--cycles", "2"});
    for (int plug = 0; plug < 3; ++plug) {
        const std::string what = "plug " + std::to_string(plug);
        const auto path = simulator.NextLine();
        ASSERT_TRUE(path.has_value()) << what;
        PortEnd port(link_);
        ASSERT_TRUE(port.IsOpen()) << what;
        EXPECT_EQ(port.Exchange("ping", 4), "ping") << what;
        if (plug < 2) {
            EXPECT_TRUE(port.SeesHangUp()) << what;
        } else {
            // Two cycles done: the third pty stays.
            EXPECT_FALSE(port.SeesHangUp(800ms));
        }
    }
}

TEST_F(SimulatorPlugTest, ReplugAfterARequestedUnplug) {
    SimulatorProcess simulator({"--link", link_, "--replug-after", "50"});
    ASSERT_TRUE(simulator.NextLine().has_value());
    PortEnd port(link_);
    simulator.Signal(SIGUSR1);
    EXPECT_TRUE(port.SeesHangUp());
    ExpectServing(simulator, "scheduled replug");
}

TEST_F(SimulatorPlugTest, EachNewPtyBehavesAnew) {
    struct Row {
        std::vector<std::string> behaviour;
        std::string expected;
    };
    const Row rows[] = {
        {{"--echo"}, "ping"},
        {{"--reply", "\\x06OK"}, "\x06OK"},
        // A stream starts afresh at byte 0 on the new device.
        {{"--stream", "6"}, std::string("\x00\x01\x02\x03\x04\x05", 6)},
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments = row.behaviour;
        arguments.insert(arguments.end(), {"--link", link_});
        SimulatorProcess simulator(arguments);
        ASSERT_TRUE(simulator.NextLine().has_value());
        for (int plug = 0; plug < 2; ++plug) {
            PortEnd port(link_);
            ASSERT_TRUE(port.IsOpen());
            EXPECT_EQ(port.Exchange("ping", row.expected.size()), row.expected)
                << row.behaviour[0] << " on pty " << plug;
            simulator.Signal(SIGUSR1);
            EXPECT_TRUE(port.SeesHangUp());
            simulator.Signal(SIGUSR2);
            ASSERT_TRUE(simulator.NextLine().has_value());
        }
    }
}

TEST_F(SimulatorPlugTest, RefusesToReplaceWhatIsNotALink) {
    struct Row {
        const char* what;
        void (*make)(const std::string& path);
        bool (*untouched)(const std::string& path);
    };
    const Row rows[] = {
        {"a file", [](const std::string& path) { std::ofstream(path) << "keep me"; },
         [](const std::string& path) {
             std::string content;
             std::getline(std::ifstream(path), content);
             return content == "keep me";
         }},
        {"a directory", [](const std::string& path) { fs::create_directory(path); },
         [](const std::string& path) { return fs::is_directory(fs::symlink_status(path)); }},
        {"a fifo", [](const std::string& path) { mkfifo(path.c_str(), 0600); },
         [](const std::string& path) { return fs::is_fifo(fs::symlink_status(path)); }},
    };
    for (const Row& row : rows) {
        fs::remove_all(link_);
        row.make(link_);
        SimulatorProcess simulator({"--link", link_});
        EXPECT_EQ(simulator.Wait(), 1) << row.what;
        EXPECT_NE(simulator.Errors().find("--link " + link_ + ": something other than"),
                  std::string::npos)
            << row.what;
        EXPECT_TRUE(row.untouched(link_)) << row.what;
    }
}

TEST_F(SimulatorPlugTest, TakesOverALinkLeftBehind) {
    fs::create_symlink("/dev/pts/nothing-here", link_);
    SimulatorProcess simulator({"--link", link_});
    const auto path = simulator.NextLine();
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(LinkTarget(), *path);
}

TEST_F(SimulatorPlugTest, RefusesCommandLinesItDoesNotUnderstand) {
    const std::vector<std::string> rows[] = {
        {"--unplug-after", "soon"},
        {"--replug-after", "-5"},
        {"--cycles"},
        {"--link", ""},
        {"--unplug-after", "99999999999"},
        {"--plug"},
    };
    for (const auto& row : rows) {
        SimulatorProcess simulator(row);
        EXPECT_EQ(simulator.Wait(), 2) << row[0];
        EXPECT_NE(simulator.Errors().find(row[0]), std::string::npos) << row[0];
    }
}

// The library as tests link it: requests from another thread, the new path
// handed to onReplug on the simulator's thread.
TEST_F(SimulatorPlugTest, InProcessUnplugAndReplug) {
    std::promise<std::string> replugged;
    sim::Plugging plugging;
    plugging.linkPath = link_;
    plugging.onReplug = [&replugged](const std::string& path) { replugged.set_value(path); };
    sim::Simulator simulator(sim::Behaviour{}, std::move(plugging));
    EXPECT_EQ(LinkTarget(), simulator.SlavePath());
    std::thread serving([&simulator] { simulator.Run(); });

    PortEnd port(link_);
    ASSERT_TRUE(port.IsOpen());
    simulator.Unplug();
    EXPECT_TRUE(port.SeesHangUp());
    EXPECT_TRUE(LinkGone());
    simulator.Replug();
    auto path = replugged.get_future();
    ASSERT_EQ(path.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(LinkTarget(), path.get());
    EXPECT_EQ(PortEnd(link_).Exchange("ping", 4), "ping");

    simulator.Stop();
    serving.join();
}

}  // namespace
}  // namespace tarvik::test
