#include "tools/simulator/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace tarvik::sim {

namespace {

bool ParseCount(const char* text, std::uint64_t* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

constexpr std::string_view kWithValue[] = {
    "--reply",        "--stream", "--rate",   "--link",  "--unplug-after",
    "--replug-after", "--cycles", "--replay", "--speed", "--start-after"};

// Longer times would overflow the clock's arithmetic; 24 days is plenty.
constexpr std::uint64_t kLongestMs = 0x7fffffff;

}  // namespace

const char* HelpText() {
    return R"(usage: tarvik-sim [--echo | --reply TEXT | --stream N [--rate BPS] | --silent |
                   --replay CAPTURE [--speed X] [--answer] [--start-after MS] [--loop]]
                  [--link PATH] [--unplug-after MS] [--replug-after MS] [--cycles N]

A serial device on a pseudo-terminal. The first line on standard output is
the path of the pty to open; after each replug one more line gives the new
pty's path, written once the link (if any) points at it.

What the device does, on every pty it serves:
  --echo             send back what arrives (the default)
  --reply TEXT       answer each received block with TEXT (\xHH \n \r \t \0 \\)
  --stream N         each received block starts N bytes (byte n is n mod 251)
  --rate BPS         send a stream at BPS bytes per second (0: at once)
  --silent           receive only
  --replay CAPTURE   play the received blocks of a timed capture (tarvik2
                     --capture) with their recorded gaps; playing starts with
                     the first byte the port sends (opening a port empties its
                     input, so nothing can be played before); at most 256 MiB,
                     a last line cut short is left out with a warning
  --speed X          divide the recorded gaps by X (default 1; 2: twice as fast)
  --answer           before each block, wait for as many bytes as the capture
                     sent before it, then keep its recorded gap after them
  --start-after MS   start playing MS after the simulator starts instead
  --loop             after the last block play the first again, for ever

How it comes and goes:
  --link PATH        keep a symbolic link at PATH to the current pty; it is
                     removed on unplug and when the simulator ends. Anything
                     at PATH other than a symbolic link is refused.
  --unplug-after MS  unplug MS milliseconds after each plug (the first too)
  --replug-after MS  replug MS milliseconds after each unplug (any unplug)
  --cycles N         at most N scheduled unplugs (default 1; 0: no limit)
  SIGUSR1            unplug now: the link goes, then the pty, and every
                     opener of it sees a hang-up (poll HUP, read 0, EIO)
  SIGUSR2            replug now: a new pty, the link renewed, its path printed
  SIGINT, SIGTERM    end (the link is removed)
Unplug while unplugged and replug while plugged do nothing. Signals sent in
quick succession may be taken in any order: wait for the effect of one (the
hang-up, the printed line) before sending the next. A replugged device starts
afresh: output owed to the old pty is dropped.

A pty has no modem lines, no break and no parity, framing or overrun errors
(a break sent on its master reaches nobody), so the simulator offers none of
them: in tests they are the fake device's job. The hang-up is the one line
event a pty gives.
)";
}

std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* error) {
    Arguments parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::uint64_t number = 0;
        // Switches with a number: the value is checked the same way for all.
        const auto count = [&](std::uint64_t* into) {
            if (ParseCount(argv[++i], into)) {
                return true;
            }
            *error = arg + " wants a whole number, not '" + argv[i] + "'";
            return false;
        };
        const auto milliseconds = [&](std::uint64_t* into) {
            if (!count(into)) {
                return false;
            }
            if (*into <= kLongestMs) {
                return true;
            }
            *error = arg + " takes at most " + std::to_string(kLongestMs) + " ms";
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--echo") {
            parsed.behaviour.mode = Behaviour::Mode::kEcho;
        } else if (arg == "--silent") {
            parsed.behaviour.mode = Behaviour::Mode::kSilent;
        } else if (arg == "--reply" && hasValue) {
            parsed.behaviour.mode = Behaviour::Mode::kReply;
            parsed.behaviour.reply = Unescape(argv[++i]);
        } else if (arg == "--stream" && hasValue) {
            parsed.behaviour.mode = Behaviour::Mode::kStream;
            if (!count(&parsed.behaviour.streamBytes)) {
                return std::nullopt;
            }
        } else if (arg == "--rate" && hasValue) {
            if (!count(&parsed.behaviour.bytesPerSecond)) {
                return std::nullopt;
            }
        } else if (arg == "--replay" && hasValue) {
            parsed.behaviour.mode = Behaviour::Mode::kReplay;
            parsed.replayPath = argv[++i];
        } else if (arg == "--speed" && hasValue) {
            char* end = nullptr;
            const double speed = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(speed > 0) || speed > 1e6) {
                *error = "--speed wants a number above 0, not '" + std::string(argv[i]) + "'";
                return std::nullopt;
            }
            parsed.behaviour.replay.speed = speed;
        } else if (arg == "--answer") {
            parsed.behaviour.replay.answer = true;
        } else if (arg == "--loop") {
            parsed.behaviour.replay.loop = true;
        } else if (arg == "--start-after" && hasValue) {
            if (!milliseconds(&number)) {
                return std::nullopt;
            }
            parsed.behaviour.replay.startAfter = std::chrono::milliseconds(number);
        } else if (arg == "--link" && hasValue) {
            parsed.plugging.linkPath = argv[++i];
            if (parsed.plugging.linkPath.empty()) {
                *error = "--link wants a path";
                return std::nullopt;
            }
        } else if (arg == "--unplug-after" && hasValue) {
            if (!milliseconds(&number)) {
                return std::nullopt;
            }
            parsed.plugging.schedule.unplugAfter = std::chrono::milliseconds(number);
        } else if (arg == "--replug-after" && hasValue) {
            if (!milliseconds(&number)) {
                return std::nullopt;
            }
            parsed.plugging.schedule.replugAfter = std::chrono::milliseconds(number);
        } else if (arg == "--cycles" && hasValue) {
            if (!count(&parsed.plugging.schedule.cycles)) {
                return std::nullopt;
            }
        } else {
            const bool wantsValue = std::find(std::begin(kWithValue), std::end(kWithValue), arg) !=
                                    std::end(kWithValue);
            *error = wantsValue ? arg + " wants a value" : "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (parsed.behaviour.mode != Behaviour::Mode::kReplay &&
        (parsed.behaviour.replay.answer || parsed.behaviour.replay.startAfter ||
         parsed.behaviour.replay.loop || parsed.behaviour.replay.speed != 1.0)) {
        *error = "--speed, --answer, --start-after and --loop go with --replay";
        return std::nullopt;
    }
    return parsed;
}

}  // namespace tarvik::sim
