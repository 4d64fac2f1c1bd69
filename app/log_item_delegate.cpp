#include "app/log_item_delegate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStaticText>
#include <QPalette>
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

// A line of text and nothing else, which the delegate draws itself.
bool IsPlainText(const QStyleOptionViewItem& option) {
    return option.icon.isNull() && !option.features.testFlag(QStyleOptionViewItem::HasCheckIndicator) &&
           !option.features.testFlag(QStyleOptionViewItem::WrapText) &&
           !option.state.testFlag(QStyle::State_Editing) &&
           (option.displayAlignment & Qt::AlignHorizontal_Mask) == Qt::AlignLeft;
}

// Laid-out lines kept for the next frames: a log repaints its visible lines
// whenever one arrives, the same texts one row further down.
constexpr qsizetype kCachedLines = 512;

bool IsLongText(const QStyleOptionViewItem& option) {
    return option.text.size() >= kLongLine && option.icon.isNull() &&
           !option.features.testFlag(QStyleOptionViewItem::WrapText);
}

}  // namespace

QSize TLogItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const auto [lines, row] = LineOf(index);
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
    const int marks = lines->VerdictLines() > 0 ? MarkWidth(option) : 0;
    return {lines->Widest() + extraWidth_ + marks, height_};
}

QColor TLogItemDelegate::KindColour(TLineKind kind, const QPalette& palette) {
    // Read against the base the lines are drawn on, so a dark theme gets
    // light colours.
    const bool darkBase = palette.color(QPalette::Base).lightness() < 128;
    switch (kind) {
        case TLineKind::Ok:
            return darkBase ? QColor(120, 220, 120) : QColor(0, 120, 0);
        case TLineKind::Bad:
            return darkBase ? QColor(255, 120, 110) : QColor(190, 0, 0);
        case TLineKind::TooShort:
            return darkBase ? QColor(255, 190, 90) : QColor(170, 85, 0);
        default:
            return {};
    }
}

QString TLogItemDelegate::KindMark(TLineKind kind) {
    switch (kind) {
        case TLineKind::Ok:
            return QString(QChar(0x2713));  // check mark
        case TLineKind::Bad:
            return QString(QChar(0x2717));  // ballot x
        case TLineKind::TooShort:
            return QString(QChar(0x2026));  // ellipsis: the line ended early
        default:
            return {};
    }
}

int TLogItemDelegate::MarkWidth(const QStyleOptionViewItem& option) const {
    const QFontMetrics metrics(option.font);
    int widest = 0;
    for (TLineKind kind : {TLineKind::Ok, TLineKind::Bad, TLineKind::TooShort})
        widest = std::max(widest, metrics.horizontalAdvance(KindMark(kind)));
    return widest + 6;
}

void TLogItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem itemOption = option;
    initStyleOption(&itemOption, index);
    const QWidget* view = option.widget;
    const auto [lines, row] = LineOf(index);
    const TLineKind kind = lines != nullptr ? lines->Kind(row) : TLineKind::Plain;
    const bool selected = itemOption.state.testFlag(QStyle::State_Selected);
    const QColor colour = KindColour(kind, itemOption.palette);
    if (colour.isValid() && !selected)
        itemOption.palette.setColor(QPalette::Text, colour);
    QRect markRect;
    if (lines != nullptr && lines->VerdictLines() > 0) {
        markRect = itemOption.rect;
        markRect.setWidth(MarkWidth(itemOption));
        itemOption.rect.setLeft(markRect.right() + 1);
        if (selected)
            painter->fillRect(markRect, itemOption.palette.brush(QPalette::Highlight));
    }
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
    if (finder_)
        PaintMatches(painter, itemOption, style);
    if (IsPlainText(itemOption))
        PaintPlainItem(painter, itemOption, style);
    else
        style->drawControl(QStyle::CE_ItemViewItem, &itemOption, painter, view);
    if (markRect.isValid() && IsVerdict(kind)) {
        painter->save();
        painter->setPen(selected ? itemOption.palette.color(QPalette::HighlightedText) : colour);
        painter->setFont(itemOption.font);
        painter->drawText(markRect, Qt::AlignCenter, KindMark(kind));
        painter->restore();
    }
}

void TLogItemDelegate::PaintMatches(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QStyle* style) const {
    const auto matches = finder_(option.text);
    if (matches.empty())
        return;
    LearnFont(option);
    // Where the style puts the text: its rectangle and the margin inside it.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &option, option.widget);
    const qreal left =
        textRect.left() + style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    QColor paint = option.palette.color(QPalette::Highlight);
    paint.setAlpha(90);
    qreal x = left;
    qsizetype at = 0;
    for (const auto& [start, length] : matches) {
        if (start >= option.text.size())
            break;
        for (; at < start; ++at) x += Advance(option.text[at]);
        qreal width = 0;
        for (qsizetype i = start; i < std::min(option.text.size(), start + length); ++i)
            width += Advance(option.text[i]);
        painter->fillRect(QRectF(x, option.rect.top(), std::max<qreal>(width, 2), option.rect.height()),
                          paint);
    }
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

namespace tarvik {

// As the style draws an item of text alone, without its two layouts of the
// text per item (one to place it, one to draw it): the panel and the focus
// frame are the style's, the text is laid out once and kept.
void TLogItemDelegate::PaintPlainItem(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QStyle* style) const {
    const QWidget* view = option.widget;
    painter->save();
    painter->setClipRect(option.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, view);
    const QPalette::ColorGroup group = !option.state.testFlag(QStyle::State_Enabled) ? QPalette::Disabled
                                       : option.state.testFlag(QStyle::State_Active) ? QPalette::Normal
                                                                                     : QPalette::Inactive;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (!option.text.isEmpty()) {
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        if (option.font != cachedFont_) {
            cachedFont_ = option.font;
            laidOut_.clear();
        }
        auto line = laidOut_.find(option.text);
        if (line == laidOut_.end()) {
            if (laidOut_.size() >= kCachedLines)
                laidOut_.clear();
            QStaticText text(option.text);
            text.setTextFormat(Qt::PlainText);
            text.setPerformanceHint(QStaticText::AggressiveCaching);
            text.prepare(painter->transform(), option.font);
            line = laidOut_.insert(option.text, text);
        }
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const qreal height = line->size().height();
        const qreal top = option.rect.top() + (option.rect.height() - height) / 2;
        painter->drawStaticText(QPointF(option.rect.left() + margin, std::floor(top)), *line);
    }
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, view);
    }
    painter->restore();
}

}  // namespace tarvik
