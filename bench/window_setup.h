#pragma once
// What every window benchmark does before it measures: the offscreen
// platform unless QT_QPA_PLATFORM names another, message boxes collected
// instead of shown, the window waited for until it is on screen, and the
// process's memory figures from /proc.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/message_box.h"

namespace bench {

// Before the application object is made.
inline void UseOffscreenUnlessSet() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Every box the program would show lands in boxes instead, so a benchmark
// never waits for a click and can report what went wrong.
inline void CollectMessageBoxes(std::vector<std::string>& boxes) {
    tarvik::SetMessageBoxFunction(
        [&boxes](const tarvik::MessageBoxRequest& box) { boxes.push_back(box.text); });
}

// Shows window and returns once it is exposed and its first events are done.
inline void ShowAndWait(QWidget& window) {
    window.show();
    QElapsedTimer clock;
    clock.start();
    while (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (clock.elapsed() > 10000)
            throw std::runtime_error("window not shown");
    }
    QCoreApplication::processEvents();
}

// A "/proc/self/status" figure such as "VmRSS" or "VmHWM", in bytes; -1 if
// the kernel gives none.
inline long long StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = field + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + key.size()) * 1024;
    }
    return -1;
}

// Lowers the peak mark to the present, so VmHWM then shows this run's peak.
inline void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace bench
