#include "app/window_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QRadioButton>
#include <vector>

namespace tarvik {

TWindowKeys::TWindowKeys(QWidget* window) : QObject(window), window_(window) {
    // Application-wide: a list's drop-down and the context menu are windows
    // of their own, and Qt offers their Esc to the window's shortcuts first.
    QCoreApplication::instance()->installEventFilter(this);
}

bool TWindowKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::ShortcutOverride) {
        // An accepted override keeps the shortcut back; the key then goes to
        // the pop-up, which closes.
        if (key->key() == Qt::Key_Escape && QApplication::activePopupWidget() != nullptr) {
            key->accept();
            return true;
        }
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != window_)
        return false;
    // Ctrl+Alt is AltGr on some keyboards, which does type.
    const Qt::KeyboardModifiers modifiers = key->modifiers();
    return modifiers.testFlag(Qt::AltModifier) &&
           !(modifiers & (Qt::ControlModifier | Qt::MetaModifier)) && !key->text().isEmpty();
}

void KeepTabStopOnSelected(std::initializer_list<QRadioButton*> group) {
    const std::vector<QRadioButton*> buttons(group);
    const auto update = [buttons] {
        for (QRadioButton* button : buttons) {
            const Qt::FocusPolicy policy = button->focusPolicy();
            button->setFocusPolicy(Qt::FocusPolicy(button->isChecked() ? policy | Qt::TabFocus
                                                                       : policy & ~Qt::TabFocus));
        }
    };
    for (QRadioButton* button : buttons) {
        QObject::connect(button, &QRadioButton::toggled, button, update);
    }
    update();
}

}  // namespace tarvik
