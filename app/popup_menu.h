#pragma once
// A context menu that several list controls share and that knows which of
// them it was opened over, so its commands can act on that one.
// Owned by its parent widget. Main thread only.

#include <QMenu>
#include <QPointer>
#include <vector>

class QAbstractScrollArea;

namespace tarvik {

class TPopupMenu : public QMenu {
  public:
    explicit TPopupMenu(QWidget* parent);

    // Opens this menu when the user asks for a context menu over the control:
    // the right mouse button over its contents, or the keyboard's menu key or
    // Shift+F10 while it has the focus. The right button over a list selects
    // the line under it unless that line is selected already (then the
    // selection stays and the line becomes current); below the last line it
    // changes nothing. The control must outlive the menu or be destroyed with
    // the same parent.
    void AttachTo(QAbstractScrollArea* control);

    // The control the menu was last opened over; null before the first opening.
    QWidget* PopupComponent() const { return popupComponent_; }

    // Remembers the control and shows the menu at the screen position,
    // unrolling downwards; returns at once.
    void Popup(QWidget* component, const QPoint& globalPos);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::vector<QAbstractScrollArea*> controls_;
    QPointer<QWidget> popupComponent_;
};

}  // namespace tarvik
