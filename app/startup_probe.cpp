#include "app/startup_probe.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <ctime>

namespace tarvik {

namespace {

class FirstShowWatcher : public QObject {
  public:
    FirstShowWatcher(QWidget* window, bool stamp, QString screenshot)
        : QObject(window), window_(window), stamp_(stamp), screenshot_(std::move(screenshot)) {
        window->windowHandle()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && window_->windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            // Queued, so it runs after the exposure has been painted and flushed.
            QTimer::singleShot(0, this, &FirstShowWatcher::Report);
        }
        return false;
    }

  private:
    void Report() {
        if (stamp_) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::fprintf(stderr, "tarvik2: window shown at %lld.%09ld\n",
                         static_cast<long long>(now.tv_sec), now.tv_nsec);
        }
        if (!screenshot_.isEmpty()) {
            bool isNumber = false;
            const int page = qEnvironmentVariableIntValue("TARVIK_SCREENSHOT_PAGE", &isNumber);
            if (auto* pages = window_->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
                pages != nullptr && isNumber) {
                pages->setCurrentIndex(page);
            }
            // Another of the program's windows, named by its object name (the plot).
            QWidget* shot = window_;
            const QString name = qEnvironmentVariable("TARVIK_SCREENSHOT_WINDOW");
            for (QWidget* other : QApplication::topLevelWidgets()) {
                if (!name.isEmpty() && other->objectName() == name && other->isVisible())
                    shot = other;
            }
            if (!shot->grab().save(screenshot_, "PNG")) {
                std::fprintf(stderr, "tarvik2: cannot write %s\n", qPrintable(screenshot_));
            }
            QCoreApplication::quit();
        }
        deleteLater();
    }

    QWidget* window_;
    bool stamp_;
    QString screenshot_;
};

}  // namespace

void WatchFirstShow(QWidget* window) {
    const bool stamp = qEnvironmentVariableIsSet("TARVIK_SHOWN_STAMP");
    QString screenshot = qEnvironmentVariable("TARVIK_SCREENSHOT");
    if (!stamp && screenshot.isEmpty())
        return;
    new FirstShowWatcher(window, stamp, std::move(screenshot));
}

}  // namespace tarvik
