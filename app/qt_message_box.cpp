#include "app/qt_message_box.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

#include "base/box_text.h"
#include "base/message_box.h"

namespace tarvik {

namespace {

// Control characters (a NUL the user typed, say) show as spaces, as the
// command line shows them; tabs and line breaks keep their meaning. Every
// character keeps its place, so a quoted text shows at its full length.
QString Displayed(const std::string& utf8) {
    QString text = QString::fromStdString(utf8);
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n')
            c = u' ';
    return text;
}

void ShowQtMessageBox(const MessageBoxRequest& request) {
    const auto icon =
        request.icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information;
    QWidget* owner = request.hasOwner ? QApplication::activeWindow() : nullptr;
    // A screenful at most: laying out megabytes of text kept the window busy
    // for half a minute and made a box taller than any screen.
    const BoxText fitted = FitToScreen(request.text);
    QMessageBox box(icon, QString::fromStdString(request.caption), Displayed(fitted.shown),
                    QMessageBox::Ok, owner);
    // The text may quote the user's own input; never read it as markup.
    box.setTextFormat(Qt::PlainText);
    if (!fitted.details.empty())
        box.setDetailedText(Displayed(fitted.details));
    if (request.hasOwner) {
        box.exec();
        return;
    }
    // Without an owner the box must not block the window: show it modeless
    // and wait here until it is closed.
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec();
}

}  // namespace

void InstallQtMessageBox() {
    SetMessageBoxFunction(ShowQtMessageBox);
}

}  // namespace tarvik
