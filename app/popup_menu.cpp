#include "app/popup_menu.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tarvik {

namespace {

// Where a menu asked for by the keyboard appears: at the current line of a
// list, else at the control's top left corner.
QPoint KeyboardPosition(QAbstractScrollArea* control) {
    QWidget* viewport = control->viewport();
    if (auto* view = qobject_cast<QAbstractItemView*>(control)) {
        const QRect line = view->visualRect(view->currentIndex());
        if (line.isValid() && viewport->rect().intersects(line))
            return viewport->mapToGlobal(line.center());
    }
    return viewport->mapToGlobal(QPoint(0, 0));
}

}  // namespace

TPopupMenu::TPopupMenu(QWidget* parent) : QMenu(parent) {}

void TPopupMenu::AttachTo(QAbstractScrollArea* control) {
    controls_.push_back(control);
    // A mouse request arrives at the viewport, a keyboard one at the control
    // itself; watching both and taking the event's own screen position puts
    // the menu where it was asked for in either case.
    control->installEventFilter(this);
    control->viewport()->installEventFilter(this);
}

void TPopupMenu::Popup(QWidget* component, const QPoint& globalPos) {
    popupComponent_ = component;
    popup(globalPos);
}

bool TPopupMenu::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        // The desktop lists' convention, so that the menu's commands act on
        // what the user sees: a right click on a line outside the selection
        // selects that line alone and makes it current; on a selected line it
        // keeps the selection and makes the line current; below the last line
        // it keeps everything. The menu itself opens on the context-menu
        // request that follows.
        const auto* press = static_cast<QMouseEvent*>(event);
        for (QAbstractScrollArea* control : controls_) {
            auto* view = qobject_cast<QAbstractItemView*>(control);
            if (view == nullptr || watched != view->viewport() ||
                press->button() != Qt::RightButton || view->selectionModel() == nullptr)
                continue;
            QItemSelectionModel* selection = view->selectionModel();
            const QModelIndex line = view->indexAt(press->position().toPoint());
            if (line.isValid()) {
                selection->setCurrentIndex(line, selection->isSelected(line)
                                                     ? QItemSelectionModel::NoUpdate
                                                     : QItemSelectionModel::ClearAndSelect);
            }
            return true;
        }
        return QMenu::eventFilter(watched, event);
    }
    if (type != QEvent::ContextMenu && type != QEvent::KeyPress)
        return QMenu::eventFilter(watched, event);
    for (QAbstractScrollArea* control : controls_) {
        if (watched == control && type == QEvent::KeyPress) {
            // Shift+F10 opens context menus all over the desktop; the window
            // system passes it on as a plain key, unlike the menu key.
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier)
                break;
            Popup(control, KeyboardPosition(control));
            return true;
        }
        if (type == QEvent::ContextMenu && (watched == control || watched == control->viewport())) {
            auto* request = static_cast<QContextMenuEvent*>(event);
            Popup(control, request->globalPos());
            request->accept();
            return true;
        }
    }
    return QMenu::eventFilter(watched, event);
}

}  // namespace tarvik
