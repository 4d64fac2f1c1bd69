#pragma once
// The program from start to end: translation, the application object, the
// window, the message loop. Returns the exit code. Main thread.

namespace tarvik {

int RunTarvik(int argc, char** argv);

}  // namespace tarvik
