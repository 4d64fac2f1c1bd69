#include "app/caption_fit.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFontInfo>
#include <QStyle>
#include <QStyleOptionButton>

namespace tarvik {

namespace {

bool Fits(const QCheckBox* box, const QFont& font) {
    const QFontMetrics metrics(font);
    QStyleOptionButton option;
    option.initFrom(box);
    option.fontMetrics = metrics;
    option.text = box->text();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    const QSize caption = metrics.size(Qt::TextShowMnemonic, box->text());
    return caption.width() <= room.width() && caption.height() <= room.height();
}

class CaptionFitter : public QObject {
  public:
    explicit CaptionFitter(QCheckBox* box) : QObject(box), box_(box) {
        box->installEventFilter(this);
        Fit();
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (!fitting_ &&
            (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
            Fit();
        return false;
    }

  private:
    void Fit() {
        fitting_ = true;
        // The font the box would inherit, with only its size made smaller:
        // a later font of the window still reaches the box.
        const QWidget* parent = box_->parentWidget();
        QFont font = parent != nullptr ? parent->font() : QApplication::font(box_);
        const int natural = QFontInfo(font).pixelSize();
        int size = natural;
        font.setPixelSize(size);
        while (size > 1 && !Fits(box_, font)) font.setPixelSize(--size);
        QFont own;
        if (size != natural)
            own.setPixelSize(size);
        box_->setFont(own);
        fitting_ = false;
    }

    QCheckBox* box_;
    bool fitting_ = false;
};

}  // namespace

void KeepCaptionWhole(QCheckBox* box) {
    new CaptionFitter(box);
}

}  // namespace tarvik
