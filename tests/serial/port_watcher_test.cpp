// Ports that come and go: the kernel's own uevents for a tty, made by
// writing to its uevent file (root only; the device itself stays), and the
// quiet fall-back when no monitor is wanted or possible.

#include "serial/ports/port_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/base/qt_test_support.h"

namespace cport {
namespace {

using tarvik::testing::App;
using tarvik::testing::RunEventLoopUntil;

constexpr const char* kUevent = "/sys/class/tty/tty9/uevent";

bool Announce(const char* action) {
    std::ofstream uevent(kUevent);
    uevent << action << "\n";
    uevent.flush();
    return static_cast<bool>(uevent);
}

TEST(PortWatcher, KernelNewsOfATtyAddedAndRemoved) {
    App();
    if (geteuid() != 0 || access(kUevent, W_OK) != 0)
        GTEST_SKIP() << "needs root and a writable " << kUevent << " to make the kernel announce";
    TPortWatcher watcher(nullptr, TPortWatchSource::Kernel);
    if (watcher.Mode() != TPortWatchMode::pwKernel)
        GTEST_SKIP() << "no kernel uevents here: " << watcher.Reason();
    EXPECT_EQ(watcher.Reason(), "");
    std::vector<std::string> news;
    watcher.SetOnChange([&](const TPortChange& change) { news.push_back(change.Text()); });

    // Remove first, add last: where udevd runs, the node is back at the end.
    ASSERT_TRUE(Announce("remove"));
    ASSERT_TRUE(RunEventLoopUntil([&] { return !news.empty(); }));
    ASSERT_TRUE(Announce("change"));  // neither added nor removed: not reported
    ASSERT_TRUE(Announce("add"));
    ASSERT_TRUE(RunEventLoopUntil([&] { return news.size() >= 2; }));
    EXPECT_EQ(news, (std::vector<std::string>{"removed tty9", "added tty9"}));
}

TEST(PortWatcher, WithoutAMonitorItSaysSoAndStaysQuiet) {
    App();
    TPortWatcher none(nullptr, TPortWatchSource::None);
    EXPECT_EQ(none.Mode(), TPortWatchMode::pwOnDemand);
    EXPECT_NE(none.Reason(), "");

    // Automatic picks udev only where udevd runs.
    TPortWatcher automatic;
    if (automatic.Mode() != TPortWatchMode::pwOnDemand)
        EXPECT_EQ(automatic.Mode(),
                  TPortWatcher::UdevRuns() ? TPortWatchMode::pwUdev : TPortWatchMode::pwKernel);
    else
        EXPECT_NE(automatic.Reason(), "");
    EXPECT_EQ((TPortChange{true, "ttyUSB0"}.Text()), "added ttyUSB0");
    EXPECT_EQ((TPortChange{false, "ttyACM1"}.Text()), "removed ttyACM1");
}

}  // namespace
}  // namespace cport
