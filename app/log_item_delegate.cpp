#include "app/log_item_delegate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFontMetricsF>
#include <QListWidget>
#include <QStyle>
#include <QWidget>
#include <cmath>

#include "app/log_line.h"

namespace tarvik {

namespace {

// Shorter lines are measured and drawn as the standard delegate does:
// shaping them costs little.
constexpr qsizetype kLongLine = 64;

// Characters drawn beyond the visible right edge, so that kerning and the
// rounding of the summed advances can never cut a visible glyph.
constexpr qsizetype kSpareCharacters = 16;

bool IsLongText(const QStyleOptionViewItem& option) {
    return option.text.size() >= kLongLine && option.icon.isNull() &&
           !option.features.testFlag(QStyleOptionViewItem::WrapText);
}

}  // namespace

QSize TLogItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const QVariant stored = index.data(Qt::SizeHintRole);
    if (stored.isValid())
        return stored.toSize();
    const QSize size = Measure(option, index);
    // The model is the list's own; storing the size changes nothing the user sees.
    const_cast<QAbstractItemModel*>(index.model())->setData(index, size, Qt::SizeHintRole);
    return size;
}

void TLogItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem itemOption = option;
    initStyleOption(&itemOption, index);
    const QWidget* view = option.widget;
    if (view != nullptr && IsLongText(itemOption)) {
        LearnFont(itemOption);
        // The item's left edge lies left of the view's when scrolled sideways.
        const qreal visibleWidth = qreal(view->width() - itemOption.rect.left());
        qreal width = 0;
        qsizetype shown = 0;
        while (shown < itemOption.text.size() && width <= visibleWidth)
            width += Advance(itemOption.text[shown++]);
        shown = std::min(itemOption.text.size(), shown + kSpareCharacters);
        itemOption.text.truncate(shown);
    }
    QStyle* style = view != nullptr ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &itemOption, painter, view);
}

QSize TLogItemDelegate::Measure(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    // A received line is summed from its bytes, without a wide copy.
    const auto* list = qobject_cast<const QListWidget*>(option.widget);
    const auto* line = list ? dynamic_cast<const TLogLine*>(list->itemFromIndex(index)) : nullptr;
    const Text* bytes = line ? line->OwnText() : nullptr;
    if (bytes != nullptr && bytes->size() >= std::size_t(kLongLine)) {
        LearnFont(option);
        qreal width = 0;
        for (const char c : *bytes) width += advances_[static_cast<unsigned char>(c)];
        return {int(std::ceil(width)) + extraWidth_, height_};
    }
    QStyleOptionViewItem itemOption = option;
    initStyleOption(&itemOption, index);
    if (!IsLongText(itemOption))
        return QStyledItemDelegate::sizeHint(option, index);
    LearnFont(itemOption);
    qreal width = 0;
    for (const QChar c : itemOption.text) width += Advance(c);
    return {int(std::ceil(width)) + extraWidth_, height_};
}

void TLogItemDelegate::LearnFont(const QStyleOptionViewItem& option) const {
    if (extraWidth_ >= 0 && option.font == font_)
        return;
    font_ = option.font;
    const QFontMetricsF metrics(font_);
    for (int c = 0; c < 256; ++c) advances_[std::size_t(c)] = metrics.horizontalAdvance(QChar(c));
    // What the standard delegate gives a short text beyond the text's own width.
    const QString sample = QStringLiteral("0x41");
    QStyleOptionViewItem sampleOption = option;
    sampleOption.text = sample;
    sampleOption.features |= QStyleOptionViewItem::HasDisplay;
    const QWidget* view = option.widget;
    const QStyle* style = view != nullptr ? view->style() : QApplication::style();
    const QSize sampleSize =
        style->sizeFromContents(QStyle::CT_ItemViewItem, &sampleOption, QSize(), view);
    extraWidth_ = sampleSize.width() - int(std::ceil(metrics.horizontalAdvance(sample)));
    height_ = sampleSize.height();
}

qreal TLogItemDelegate::Advance(QChar c) const {
    return c.unicode() <= 0xFF ? advances_[c.unicode()] : QFontMetricsF(font_).horizontalAdvance(c);
}

}  // namespace tarvik
