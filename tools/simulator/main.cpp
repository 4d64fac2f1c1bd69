// tarvik-sim: a serial device on a pseudo-terminal.
//   tarvik-sim [--echo]                  send back what arrives (the default)
//   tarvik-sim --reply TEXT              answer each received block with TEXT (\xHH escapes)
//   tarvik-sim --stream N [--rate BPS]   each received block starts N bytes (n mod 251),
//                                        at BPS bytes per second (0: as fast as possible)
//   tarvik-sim --silent                  receive only
// The first line of output is the path to open as the port; the device runs
// until SIGINT or SIGTERM.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/simulator/simulator.h"

namespace {

tarvik::sim::Simulator* running = nullptr;

void OnSignal(int) {
    if (running != nullptr) {
        running->Stop();
    }
}

int Usage() {
    std::fprintf(
        stderr, "usage: tarvik-sim [--echo | --reply TEXT | --stream N [--rate BPS] | --silent]\n");
    return 2;
}

bool ParseCount(const char* text, std::uint64_t* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

}  // namespace

int main(int argc, char** argv) {
    tarvik::sim::Behaviour behaviour;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--echo") {
            behaviour.mode = tarvik::sim::Behaviour::Mode::kEcho;
        } else if (arg == "--silent") {
            behaviour.mode = tarvik::sim::Behaviour::Mode::kSilent;
        } else if (arg == "--reply" && hasValue) {
            behaviour.mode = tarvik::sim::Behaviour::Mode::kReply;
            behaviour.reply = tarvik::sim::Unescape(argv[++i]);
        } else if (arg == "--stream" && hasValue) {
            behaviour.mode = tarvik::sim::Behaviour::Mode::kStream;
            if (!ParseCount(argv[++i], &behaviour.streamBytes)) {
                return Usage();
            }
        } else if (arg == "--rate" && hasValue) {
            if (!ParseCount(argv[++i], &behaviour.bytesPerSecond)) {
                return Usage();
            }
        } else {
            return Usage();
        }
    }
    try {
        tarvik::sim::Simulator simulator(behaviour);
        running = &simulator;
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        std::printf("%s\n", simulator.SlavePath().c_str());
        std::fflush(stdout);
        simulator.Run();
        running = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
