#include "app/application.h"

#include "app/default_error.h"

namespace tarvik {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("tarvik2"));
    setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
    setApplicationVersion(QStringLiteral("2.0"));
    setDesktopFileName(QStringLiteral("tarvik2"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowDefaultError(error);
        return true;  // the event has been dealt with: its handler ended with the error
    }
}

}  // namespace tarvik
