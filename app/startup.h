#pragma once
// The program from start to end: translation, the application object, the
// window, the message loop. Returns the exit code: 1 when the window could
// not be built, 2 for a command line it cannot follow, 128 + the signal when
// SIGINT, SIGTERM or SIGHUP ended it (the port closed, its lock file removed,
// the captures written to their end first). Main thread; call it before any
// thread starts.

#include <functional>

#include "base/message_box.h"

namespace tarvik {

class Tfrmmain;

// `showBox` is the function behind every message box of the run; empty means
// the Qt message box. `onShown` runs once the window is shown. (A test runs
// the whole start-up with a box that records and with a hand on the window.)
int RunTarvik(int argc, char** argv, MessageBoxFunction showBox = {},
              std::function<void(Tfrmmain&)> onShown = {});

}  // namespace tarvik
