#pragma once
// TLogLine: a line of a receive log, kept as the 8-bit text it was made
// from. A display line holds only Latin-1 characters, so it needs one byte a
// character where a QString needs two: a log of 2000 lines of received
// 1 KB blocks (some 4600 characters each) takes 9 MB instead of 18 MB. The
// list reads the text through data() as from any item. Setting the text
// makes it an ordinary stored value again. Owned by its list; main thread only.

#include <QListWidgetItem>

#include "base/text.h"

namespace tarvik {

class TLogLine : public QListWidgetItem {
  public:
    explicit TLogLine(Text text) : QListWidgetItem(nullptr, UserType), text_(std::move(text)) {}

    QVariant data(int role) const override;
    void setData(int role, const QVariant& value) override;
    QListWidgetItem* clone() const override { return new TLogLine(*this); }

    // The line as 8-bit text, or nullptr once the text was set through setData.
    const Text* OwnText() const { return ownText_ ? &text_ : nullptr; }

  private:
    Text text_;
    bool ownText_ = true;  // false once the text was set through setData
};

}  // namespace tarvik
