#pragma once
// tarvik2-run from its arguments to its exit status: the options, the
// history or script checked before anything is sent, the port, the run, the
// transcript on standard output, the summary after it, the JUnit report.
// Main thread.

namespace tarvik::runner {

// Blocks the stop signals first; returns the exit status (results.h).
int RunMain(int argc, char** argv);

}  // namespace tarvik::runner
