// tarvik-sim: a serial device on a pseudo-terminal that can be unplugged and
// plugged in again (tarvik-sim --help says how). The first line of output is
// the path to open as the port, and each replug prints the new one; the
// device runs until SIGINT or SIGTERM.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>

#include "base/terminal_text.h"
#include "tools/simulator/arguments.h"
#include "tools/simulator/replay_script.h"
#include "tools/simulator/simulator.h"

namespace {

// The simulator the signal handlers talk to, while it runs.
std::atomic<tarvik::sim::Simulator*> running{nullptr};
static_assert(std::atomic<tarvik::sim::Simulator*>::is_always_lock_free);

struct Serving {
    explicit Serving(tarvik::sim::Simulator* simulator) { running = simulator; }
    ~Serving() { running = nullptr; }
};

// Each handler only hands a request to the simulator's loop (one write to
// its pipe); the loop does the work.
void OnSignal(int signal) {
    tarvik::sim::Simulator* simulator = running;
    if (simulator == nullptr) {
        return;
    }
    if (signal == SIGUSR1) {
        simulator->Unplug();
    } else if (signal == SIGUSR2) {
        simulator->Replug();
    } else {
        simulator->Stop();
    }
}

void PrintPath(const std::string& path) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto arguments = tarvik::sim::ParseArguments(argc, argv, &error);
    if (!arguments) {
        std::fprintf(stderr, "tarvik-sim: %s\n(tarvik-sim --help lists the switches)\n",
                     error.c_str());
        return 2;
    }
    if (arguments->help) {
        std::fputs(tarvik::sim::HelpText(), stdout);
        return 0;
    }
    arguments->plugging.onReplug = PrintPath;
    if (!arguments->replayPath.empty()) {
        // Texts from the capture are escaped: it may hold anything.
        try {
            std::string warning;
            arguments->behaviour.replay.blocks =
                tarvik::sim::LoadReplay(arguments->replayPath, &warning);
            if (!warning.empty())
                std::fprintf(stderr, "tarvik-sim: warning: %s\n",
                             tarvik::ForTerminal(warning).c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarvik-sim: %s\n", tarvik::ForTerminal(e.what()).c_str());
            return 2;
        }
    }
    try {
        tarvik::sim::Simulator simulator(arguments->behaviour, std::move(arguments->plugging));
        const Serving serving(&simulator);
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
            sigaction(signal, &action, nullptr);
        }
        PrintPath(simulator.SlavePath());
        simulator.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
