// Many open/close cycles of a port with traffic flowing, under every sync
// method in turn, meant for the thread sanitizer: no race, no deadlock (every
// wait has a deadline), no lost or foreign byte.
//
// Each cycle writes a block of one byte value, unique to the cycle, which the
// simulator echoes; the port's OnRxChar counts it and must see all of it.
// Every other cycle then writes a block of zero bytes and closes at once,
// while that echo is still on its way: what is left of it may turn up in a
// later cycle and is ignored, and nothing else may.
//
// TARVIK_STRESS_CYCLES sets the number of cycles (default 1000).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/base/qt_test_support.h"
#include "tests/serial/event_port.h"
#include "tools/simulator/simulator.h"

namespace cport::testutil {
namespace {

using tarvik::testing::RunEventLoopUntil;
using tarvik::testing::WaitUntil;

constexpr std::size_t kBlock = 256;

int Cycles() {
    const char* text = std::getenv("TARVIK_STRESS_CYCLES");
    const int cycles = text != nullptr ? std::atoi(text) : 0;
    return cycles > 0 ? cycles : 1000;
}

TEST(PortEventsStress, OpenAndCloseWithTrafficFlowing) {
    tarvik::testing::App();
    tarvik::sim::Simulator simulator(tarvik::sim::Behaviour{});  // echo
    std::thread simulation([&simulator] { simulator.Run(); });

    std::atomic<int> wanted{-1};  // the byte value of the current cycle
    std::atomic<std::size_t> counted{0};
    std::atomic<std::size_t> foreign{0};
    std::atomic<std::size_t> signalCalls{0};
    {
        EventPort port;
        port.SetPort(simulator.SlavePath());
        port.Buffer().SetInputSize(4096);
        port.SetEvents(TComEvents{evRxChar, evError, evCTS, evDSR, evRLSD});
        EventPort* p = &port;
        port.SetOnRxChar([&, p](QObject*, std::int32_t count) {
            for (const char byte : p->ReadBytes(count)) {
                const int value = static_cast<unsigned char>(byte);
                if (value == wanted.load())
                    ++counted;
                else if (value != 0)
                    ++foreign;
            }
        });
        port.SetOnCTSChange([&](QObject*, bool) { ++signalCalls; });

        const auto start = std::chrono::steady_clock::now();
        const int cycles = Cycles();
        for (int cycle = 0; cycle < cycles; ++cycle) {
            SCOPED_TRACE(cycle);
            const TSyncMethod method = static_cast<TSyncMethod>(cycle % 3);
            port.SetSyncMethod(method);
            const int value = cycle % 255 + 1;
            wanted = value;
            counted = 0;
            port.Open();
            port.WriteBytes(std::string(kBlock, static_cast<char>(value)));
            const auto done = [&] { return counted.load() >= kBlock; };
            ASSERT_TRUE(method == smNone ? WaitUntil(done) : RunEventLoopUntil(done))
                << counted.load() << " of " << kBlock;
            if (cycle % 2 == 1)
                port.WriteBytes(std::string(kBlock, '\0'));
            port.Close();
            ASSERT_EQ(counted.load(), kBlock);
            ASSERT_EQ(foreign.load(), 0u);
        }
        const auto took = std::chrono::steady_clock::now() - start;
        std::printf("%d cycles in %.1f s\n", cycles, std::chrono::duration<double>(took).count());
        EXPECT_EQ(signalCalls.load(), 2u * static_cast<std::size_t>(cycles));
    }
    simulator.Stop();
    simulation.join();
}

}  // namespace
}  // namespace cport::testutil
