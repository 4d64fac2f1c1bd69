#pragma once
// The context menu of the command line's edit field (right mouse button or
// the menu key): the field's own edit items, then "Append check value" with
// one item per check value of the codec, "Text to notation" and "Hex to
// notation". Each rewrites the whole line through a codec function, as one
// step the field's undo takes back. A line the function cannot read stays as
// it was; the error goes to the default error handler.
// Main thread only.

#include <QObject>
#include <functional>

#include "base/text.h"

class QComboBox;
class QLineEdit;
class QMenu;

namespace tarvik {

class TCommandLineMenu : public QObject {
  public:
    // Owned by `box`, an editable drop-down whose context-menu requests it
    // takes over: the mouse's arrive at its field, the keyboard's at the
    // drop-down itself, which has the focus and would hand them to the field
    // past any filter.
    explicit TCommandLineMenu(QComboBox* box);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Items of the window's own, added at the menu's end each time it opens.
    void SetMoreItems(std::function<void(QMenu*)> add) { moreItems_ = std::move(add); }

  private:
    // The field's standard menu with the items below it; deleted when closed.
    QMenu* Build();
    void Rewrite(const std::function<Text(const Text&)>& convert);

    QComboBox* box_;
    QLineEdit* line_;
    std::function<void(QMenu*)> moreItems_;
};

}  // namespace tarvik
