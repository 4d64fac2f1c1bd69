#pragma once
// A picture that reports clicks and carries a general-purpose integer tag,
// as the About page's picture needs for counting them. Main thread only.

#include <QLabel>

namespace tarvik {

class TImage : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

    int Tag = 0;

  signals:
    // A left button pressed and released over the picture.
    void Click();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace tarvik
