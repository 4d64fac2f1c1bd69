#pragma once
// The command line's editor: a QLineEdit that stays quick with a line of any
// length it holds.
//
// QLineEdit lays out and shapes its whole text on every change and again on
// every repaint (a cursor blink included): with a pasted line of megabytes
// each of them takes a good part of a second, and the blinking cursor alone
// keeps the main thread busy for good. A line longer than kLongLine
// characters is therefore held with the editor's own display switched off
// (QLineEdit::NoEcho), and this class draws only the characters around the
// cursor and maps the keys and mouse actions that need the text's positions
// on screen (arrows, word moves, Delete, Copy, Cut, clicks and drags). A
// shorter line is QLineEdit's own in every respect.
//
// A paste that would make the line longer than kMaxLength characters is
// refused with the default error box, and the line stays as it was.
// Owned by its parent (the command line's combo box). Main thread only.

#include <QClipboard>
#include <QLineEdit>
#include <QTextLayout>
#include <memory>

class QMenu;

namespace tarvik {

class TCommandLineEdit : public QLineEdit {
    Q_OBJECT

  public:
    // Lines up to this many characters are drawn by QLineEdit itself.
    static constexpr qsizetype kLongLine = 8192;
    // The longest line a paste may make, in characters (4 Mi).
    static constexpr qsizetype kMaxLength = qsizetype(4) * 1024 * 1024;

    explicit TCommandLineEdit(QWidget* parent = nullptr);
    ~TCommandLineEdit() override;

    // True while the line is longer than kLongLine and drawn by this class.
    bool IsLong() const;

    // For menus: QLineEdit's paste(), copy() and cut() in short mode; in
    // long mode, where QLineEdit's copy() and cut() do nothing and its
    // paste() would lay a long result out once, this class's own, with the
    // paste checked against kMaxLength as Ctrl+V is.
    void PasteFrom(QClipboard::Mode mode = QClipboard::Clipboard);
    void CopySelection() const;
    void CutSelection();
    // Points the Cut, Copy and Paste items of a menu made by
    // createStandardContextMenu() at the three above, and enables Cut and
    // Copy by the selection alone: QLineEdit disables them in long mode.
    void TakeOverEditItems(QMenu* menu);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // The characters drawn in long mode, laid out, and where they start.
    struct Shown {
        QTextLayout layout;
        qsizetype first = 0;  // index of the layout's first character in text()
        QPointF origin;       // where the layout is drawn
        QRectF area;          // the text area inside the frame
    };

    // Switches between QLineEdit's drawing and this class's as the length
    // crosses kLongLine.
    void FollowLength();
    void SetLong(bool on);
    // Pastes from the clipboard `mode`, refusing a result over kMaxLength;
    // true when it handled the paste (long line or refused).
    bool Paste(QClipboard::Mode mode);
    // Keys whose QLineEdit handling needs the text's layout; true if handled.
    bool LongKey(QKeyEvent* event);
    void MoveTo(qsizetype position, bool select);
    void SelectAndDelete(qsizetype from, qsizetype to);
    qsizetype WordRight(qsizetype from) const;
    qsizetype WordLeft(qsizetype from) const;
    // Lays out the characters around the cursor, scrolled so it shows.
    std::unique_ptr<Shown> Layout();
    qsizetype PositionAt(const QPointF& point);

    qsizetype first_ = 0;    // first character drawn in long mode
    qsizetype anchor_ = -1;  // where a mouse drag started, or -1
};

}  // namespace tarvik
