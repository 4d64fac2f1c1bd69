#pragma once
// TTimer: a window timer with an enabled flag of its own, as the window's
// handlers use it. Enabled with an interval above 0 it ticks (timeout) every
// interval; enabled with an interval of 0 or less it never ticks, where a
// running QTimer of 0 would fire on every pass of the event loop and keep
// the program busy. Main thread only; owned by its QObject parent.

#include <QTimer>

namespace tarvik {

class TTimer : public QTimer {
    Q_OBJECT

  public:
    using QTimer::QTimer;

    bool Enabled() const { return enabled_; }
    // A change starts or stops the ticks; enabling counts the interval afresh.
    void SetEnabled(bool value);

    // Milliseconds. A change counts afresh while enabled.
    int Interval() const { return interval(); }
    void SetInterval(int milliseconds);

  private:
    void Update();

    bool enabled_ = false;
};

}  // namespace tarvik
