#include "app/display_check.h"

#include <QMessageLogContext>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace tarvik {

namespace {

// Qt's message handler is a plain function: the check it reports to.
DisplayCheck* current = nullptr;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

DisplayCheck::DisplayCheck() {
    current = this;
    before_ = qInstallMessageHandler(&DisplayCheck::Hold);
}

DisplayCheck::~DisplayCheck() {
    qInstallMessageHandler(before_);
    current = nullptr;
    for (const Held& held : held_) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.c_str());
        qt_message_output(held.type, context, held.text);
    }
}

std::string DisplayCheck::NoDisplayLine() {
    const std::string platform = Environment("QT_QPA_PLATFORM");
    const std::string x11 = Environment("DISPLAY");
    const std::string wayland = Environment("WAYLAND_DISPLAY");
    std::string why;
    if (!platform.empty()) {
        why = "the window system \"" + platform + "\" could not be started";
    } else if (x11.empty() && wayland.empty()) {
        why = "no display (DISPLAY is not set)";
    } else if (!x11.empty()) {
        why = "the display \"" + x11 + "\" cannot be reached";
    } else {
        why = "the Wayland display \"" + wayland + "\" cannot be reached";
    }
    return "tarvik2: cannot show the window: " + why;
}

void DisplayCheck::Hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // Qt would abort after this handler; nothing of the run exists yet
        // that needs an orderly end.
        std::fprintf(stderr, "%s\n", NoDisplayLine().c_str());
        std::_Exit(1);
    }
    current->held_.push_back({type, context.category != nullptr ? context.category : "", text});
}

}  // namespace tarvik
