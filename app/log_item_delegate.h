#pragma once
// TLogItemDelegate: draws the lines of a log list as the standard delegate
// does, and measures each line only once, and cheaply.
//
// A list view lays out every row again after each insertion, asking each
// line for its size; the standard delegate shapes the whole text each time,
// so a log of 2000 long received lines cost 2000 text shapings per arrival
// and the window froze under a steady stream. This delegate keeps a line's
// size in the line itself (Qt::SizeHintRole, which the standard delegate
// answers from at once); lines never change their text in place in these
// lists, so the size stays right.
//
// A long line is measured by adding up the advances of its characters
// instead of shaping it (a received block of 1 KB shows as some 4000
// characters); its height and margins are those the standard delegate gives
// a short line. The sum can differ from shaped text by kerning, by a pixel or
// two in the width of the horizontal scroll range; nothing drawn changes.
// Painting likewise shapes only the visible part of a long line.
// Main thread only; owned by its QObject parent.

#include <QFont>
#include <QStyledItemDelegate>
#include <array>

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

  private:
    QSize Measure(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // Measures the standard delegate's extra width and height for `option`'s font.
    void LearnFont(const QStyleOptionViewItem& option) const;
    qreal Advance(QChar c) const;

    // For the font of the last long line: the advance of each Latin-1
    // character, and the extra width and the height the standard delegate
    // gives a text.
    mutable QFont font_;
    mutable std::array<qreal, 256> advances_{};
    mutable int extraWidth_ = -1;
    mutable int height_ = 0;
};

}  // namespace tarvik
