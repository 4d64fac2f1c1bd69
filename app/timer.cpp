#include "app/timer.h"

namespace tarvik {

void TTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    Update();
}

void TTimer::SetInterval(int milliseconds) {
    if (milliseconds == interval())
        return;
    stop();  // a running QTimer would restart at once with the new value
    setInterval(milliseconds);
    Update();
}

void TTimer::Update() {
    if (enabled_ && interval() > 0) {
        start();
    } else {
        stop();
    }
}

}  // namespace tarvik
