#pragma once
// tarvik-sim's command line: what the device does and how it comes and goes.

#include <optional>
#include <string>

#include "tools/simulator/simulator.h"

namespace tarvik::sim {

struct Arguments {
    Behaviour behaviour;
    Plugging plugging;       // without onReplug
    std::string replayPath;  // --replay: the capture to load into behaviour.replay
    bool help = false;
};

// The parsed command line, or none when it is not understood (the reason
// is in `error`).
std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* error);

// The text --help prints.
const char* HelpText();

}  // namespace tarvik::sim
