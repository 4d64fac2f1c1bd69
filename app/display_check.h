#pragma once
// Without a display, Qt's platform plugin gives up inside the application
// object's constructor and aborts (status 134) with a page of advice about
// reinstalling. Held while that object is built, this turns it into one line
// on standard error and exit status 1, as the manual page says; Qt's
// messages meanwhile are held back and let out when the display is there.
// Main thread; one at a time.

#include <QString>
#include <QtGlobal>
#include <string>
#include <vector>

namespace tarvik {

class DisplayCheck {
  public:
    DisplayCheck();
    ~DisplayCheck();  // lets the held messages out through the handler before
    DisplayCheck(const DisplayCheck&) = delete;
    DisplayCheck& operator=(const DisplayCheck&) = delete;

    // The line said when no display can be had, from the environment that
    // chose it (QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY).
    static std::string NoDisplayLine();

  private:
    struct Held {
        QtMsgType type;
        std::string category;
        QString text;
    };
    static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& text);

    QtMessageHandler before_;
    std::vector<Held> held_;
};

}  // namespace tarvik
