#pragma once
// TLogItemDelegate: draws the lines of a TLineList as the standard delegate
// does, and measures them cheaply.
//
// All rows of a line list have one size, and the view asks one row for it:
// the height the standard delegate gives a line, and the width of the
// widest line, so that the horizontal scroll range reaches every line. A
// line's width is the sum of its characters' advances rather than its
// shaped width (a received block of 1 KB shows as some 4000 characters, and
// a loaded list may hold a million lines); the model keeps the widest up to
// date as lines come and go. The sum can differ from shaped text by kerning,
// by a pixel or two in the width of the scroll range; nothing drawn changes.
// Painting likewise shapes only the visible part of a long line.
//
// Lines with a check's verdict are drawn in a colour of their own, and
// while a log holds any, every line leaves room at its start for a mark of
// the verdict, so that it is seen without scrolling to the line's end. The
// text is not changed. Matches of a search (SetHighlight) are painted behind
// their characters.
// Main thread only; owned by its QObject parent.

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "codec/line_kind.h"

namespace tarvik {

class TLogItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // As the standard delegate, but a long line is handed to the style only
    // up to a little beyond the visible right edge: the part further right
    // is clipped away anyway, and shaping it made every repaint slow.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The colour of a line of `kind` over `palette`'s base: a green for a
    // right check, a red for a wrong or short one, light on a dark base and
    // dark on a light one; invalid (the palette's text) for other lines.
    static QColor KindColour(TLineKind kind, const QPalette& palette);
    // The mark drawn at the start of a line of `kind`; empty for other lines.
    static QString KindMark(TLineKind kind);
    // The room the marks take at the start of each line of a log with verdicts.
    int MarkWidth(const QStyleOptionViewItem& option) const;

    // The matches in a line's text to paint behind it (start, length); none
    // without a finder.
    using Finder = std::function<std::vector<std::pair<qsizetype, qsizetype>>(const QString&)>;
    void SetHighlight(Finder finder) { finder_ = std::move(finder); }

  private:
    void PaintPlainItem(QPainter* painter, const QStyleOptionViewItem& option,
                        const QStyle* style) const;
    mutable QHash<QString, QStaticText> laidOut_;
    mutable QFont cachedFont_;
    Finder finder_;
    // Measures the standard delegate's extra width and height for `option`'s font.
    void LearnFont(const QStyleOptionViewItem& option) const;
    // Paints the finder's matches behind the text, as the style will place it.
    void PaintMatches(QPainter* painter, const QStyleOptionViewItem& option,
                      const QStyle* style) const;
    qreal Advance(QChar c) const;

    // For the font last measured: the advance of each Latin-1
    // character, and the extra width and the height the standard delegate
    // gives a text.
    mutable QFont font_;
    mutable std::array<qreal, 256> advances_{};
    mutable int extraWidth_ = -1;
    mutable int height_ = 0;
    mutable int fontGeneration_ = 0;  // counts the fonts learnt
    mutable int measuredFont_ = -1;   // the generation the model's measure was made for
};

}  // namespace tarvik
