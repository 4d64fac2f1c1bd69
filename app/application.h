#pragma once
// The application object: Qt's application with the program's default error
// handler. An exception that leaves a handler reached through an event (a
// click, a key, a timer tick, a queued call) is caught in notify and shown;
// the message loop then goes on. One instance, on the main thread.

#include <QApplication>

namespace tarvik {

class TApplication : public QApplication {
  public:
    // Sets the title "Tarvik 2" (taskbar, error boxes) and the desktop names.
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tarvik
