#pragma once
// The program from start to end: translation, the application object, the
// window, the message loop. Returns the exit code: 1 when the window could
// not be built, 2 for a command line it cannot follow. Main thread.

#include "base/message_box.h"

namespace tarvik {

// `showBox` is the function behind every message box of the run; empty means
// the Qt message box. (A test runs the whole start-up with one that records.)
int RunTarvik(int argc, char** argv, MessageBoxFunction showBox = {});

}  // namespace tarvik
