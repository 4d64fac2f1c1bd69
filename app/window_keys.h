#pragma once
// Keyboard rules of the window that Qt does not keep by itself, as users of
// a desktop terminal expect them:
// - Alt with a key never types. Qt hands an Alt+letter that no enabled
//   accelerator takes to the focused control as text, so the letter of a
//   disabled button (Send while closed) landed in the command line, or
//   picked a list item starting with it.
// - Esc belongs to an open list or menu before the window's cancel button.
// - Radio buttons of one group have one Tab stop: the selected button.
// Main thread only.

#include <QObject>
#include <initializer_list>

class QRadioButton;
class QWidget;

namespace tarvik {

// Watches the keys of `window` and its controls; owned by `window`.
class TWindowKeys : public QObject {
  public:
    explicit TWindowKeys(QWidget* window);

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
};

// Keeps the Tab stop of the group on its selected button. Qt leaves it on the
// button that last had the focus, which need not be the selected one when
// the selection changed from code or by entering another control.
void KeepTabStopOnSelected(std::initializer_list<QRadioButton*> group);

}  // namespace tarvik
