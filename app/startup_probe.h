#pragma once
// Hooks for the screenshot script and the start-up benchmark, both driven by
// environment variables and idle otherwise:
//   TARVIK_SHOWN_STAMP=1      print "tarvik2: window shown at <seconds since
//                             the epoch>" to standard error once the window has
//                             been exposed and painted for the first time
//   TARVIK_SCREENSHOT=<file>  save the window as a PNG picture at that moment and quit
//   TARVIK_SCREENSHOT_PAGE=n  with it: show page n (0..7) of the page control first
// Main thread only.

class QWidget;

namespace tarvik {

// Call after window->show(). The hooks remove themselves after the first exposure.
void WatchFirstShow(QWidget* window);

}  // namespace tarvik
