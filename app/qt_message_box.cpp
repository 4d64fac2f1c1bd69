#include "app/qt_message_box.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

#include "base/message_box.h"

namespace tarvik {

namespace {

void ShowQtMessageBox(const MessageBoxRequest& request) {
    const auto icon =
        request.icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information;
    QWidget* owner = request.hasOwner ? QApplication::activeWindow() : nullptr;
    QMessageBox box(icon, QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::Ok, owner);
    // The text may quote the user's own input; never read it as markup.
    box.setTextFormat(Qt::PlainText);
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
