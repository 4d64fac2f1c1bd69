#include "app/log_item_delegate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFontMetricsF>
#include <QStyle>
#include <QWidget>
#include <cmath>

#include "app/line_list.h"

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
    const auto* lines = qobject_cast<const TLineListModel*>(index.model());
    if (lines == nullptr)
        return QStyledItemDelegate::sizeHint(option, index);
    // Every row is as wide as the widest line: the view asks one row for the
    // size of all, and the horizontal scroll range must reach every line.
    LearnFont(option);
    if (measuredFont_ != fontGeneration_ || !lines->HasMeasure()) {
        measuredFont_ = fontGeneration_;
        lines->SetMeasure([advances = advances_](std::string_view line) {
            // Four sums, so that the additions need not wait for each other
            // (a received line is thousands of characters, measured as it
            // comes and as it goes). The advances are whole 64ths of a
            // pixel, so the order of adding them changes no width.
            std::array<qreal, 4> sums{};
            const auto* c = reinterpret_cast<const unsigned char*>(line.data());
            const auto* end = c + line.size();
            for (; end - c >= 4; c += 4) {
                sums[0] += advances[c[0]];
                sums[1] += advances[c[1]];
                sums[2] += advances[c[2]];
                sums[3] += advances[c[3]];
            }
            for (; c != end; ++c) sums[0] += advances[*c];
            return int(std::ceil((sums[0] + sums[1]) + (sums[2] + sums[3])));
        });
    }
    return {lines->Widest() + extraWidth_, height_};
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

void TLogItemDelegate::LearnFont(const QStyleOptionViewItem& option) const {
    if (extraWidth_ >= 0 && option.font == font_)
        return;
    font_ = option.font;
    ++fontGeneration_;
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
